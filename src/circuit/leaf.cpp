#include "talvo/circuit/leaf.hpp"

#include "circuit/leaf_update.hpp"

namespace talvo {

std::unexpected<Error> detail::leaf_index_refused(std::uint32_t leaf, std::size_t count) {
  return fail("leaf index " + std::to_string(leaf) + " is outside the circuit's " +
              std::to_string(count) + " leaves");
}

std::unexpected<Error> detail::leaf_length_refused(std::size_t length, std::size_t value_size) {
  return fail("a value of " + std::to_string(length) +
              " entries cannot be held by a leaf of a circuit with value_size " +
              std::to_string(value_size));
}

#define TALVO_INSTANTIATE_LEAF(S)                                                           \
  template struct Leaf<S>;                                                                  \
  template Result<void> leaf::update<S>(ReactiveCircuit<S>&, std::uint32_t, Value, double); \
  template Result<void> leaf::update_pair<S>(ReactiveCircuit<S>&, std::uint32_t, Value,     \
                                             std::uint32_t, Value, double);
TALVO_FOR_EACH_SEMIRING(TALVO_INSTANTIATE_LEAF)
#undef TALVO_INSTANTIATE_LEAF

}  // namespace talvo
