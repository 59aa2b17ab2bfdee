// The five instances of the reactive circuit. Every file that defines members of the circuit is
// included here, so that one explicit instantiation per semiring covers them all.

#include "circuit/reactive.hpp"

#include <string>

#include "circuit/reactive_dot.hpp"
#include "circuit/reactive_restructure.hpp"
#include "circuit/reactive_structure.hpp"
#include "circuit/reactive_update.hpp"

namespace talvo {

namespace reactive_detail {

void throw_missing_node(NodeIndex node) {
  throw Panic("node " + std::to_string(node) + " is marked but is not in the circuit");
}

void throw_leaf_out_of_range(NodeIndex node, std::uint32_t leaf, std::size_t count) {
  throw Panic("node " + std::to_string(node) + " reads leaf " + std::to_string(leaf) +
              " but the circuit has " + std::to_string(count) + " leaves");
}

void throw_dangling_memory(NodeIndex node, EdgeIndex edge) {
  throw Panic("node " + std::to_string(node) + " reads the memory of edge " + std::to_string(edge) +
              ", which is not an edge leaving it");
}

void throw_memory_length(NodeIndex node, std::size_t result, std::size_t memory) {
  throw Panic("the result of node " + std::to_string(node) + " has " + std::to_string(result) +
              " entries but a memory of it has " + std::to_string(memory));
}

}  // namespace reactive_detail

#define TALVO_INSTANTIATE_REACTIVECIRCUIT(S) template class ReactiveCircuit<S>;
TALVO_FOR_EACH_SEMIRING(TALVO_INSTANTIATE_REACTIVECIRCUIT)
#undef TALVO_INSTANTIATE_REACTIVECIRCUIT

}  // namespace talvo
