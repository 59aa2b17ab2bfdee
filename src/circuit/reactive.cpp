// The five instances of the reactive circuit. Every file that defines members of the circuit is
// included here, so that one explicit instantiation per semiring covers them all.

#include "talvo/circuit/reactive.hpp"

#include <sys/sysinfo.h>

#include <limits>
#include <memory>
#include <string>

#include "circuit/reactive_dot.hpp"
#include "circuit/reactive_restructure.hpp"
#include "circuit/reactive_structure.hpp"
#include "circuit/reactive_update.hpp"

namespace talvo {
namespace detail {

bool allocatable_doubles(std::size_t count) {
  if (count > std::allocator_traits<std::allocator<double>>::max_size({})) return false;
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return true;
  // Memory and swap together bound any one allocation; counted in units of `mem_unit` bytes.
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(info.totalram + info.totalswap, info.mem_unit, &bytes)) {
    bytes = std::numeric_limits<std::size_t>::max();
  }
  return count <= bytes / sizeof(double);
}

Result<void> allocatable_value_size(std::size_t value_size) {
  if (allocatable_doubles(value_size)) return {};
  return fail("value_size " + std::to_string(value_size) +
              " is too large: a value vector of that many entries cannot be allocated");
}

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

}  // namespace detail

#define TALVO_INSTANTIATE_REACTIVECIRCUIT(S) template class ReactiveCircuit<S>;
TALVO_FOR_EACH_SEMIRING(TALVO_INSTANTIATE_REACTIVECIRCUIT)
#undef TALVO_INSTANTIATE_REACTIVECIRCUIT

}  // namespace talvo
