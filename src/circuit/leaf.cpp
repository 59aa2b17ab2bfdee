#include "circuit/leaf.hpp"

#include "circuit/leaf_update.hpp"

namespace talvo {

std::unexpected<Error> leaf::index_refused(std::uint32_t leaf, std::size_t count) {
  return fail("leaf index " + std::to_string(leaf) + " is outside the circuit's " +
              std::to_string(count) + " leaves");
}

std::unexpected<Error> leaf::length_refused(std::size_t length, std::size_t value_size) {
  return fail("a value of " + std::to_string(length) +
              " entries cannot be held by a leaf of a circuit with value_size " +
              std::to_string(value_size));
}

template struct Leaf<LogProb>;
template struct Leaf<MaxProduct>;
template struct Leaf<Fuzzy>;
template struct Leaf<Boolean>;
template struct Leaf<ProbGradient>;

template Result<void> leaf::update<LogProb>(ReactiveCircuit<LogProb>&, std::uint32_t, Value,
                                            double);
template Result<void> leaf::update<MaxProduct>(ReactiveCircuit<MaxProduct>&, std::uint32_t, Value,
                                               double);
template Result<void> leaf::update<Fuzzy>(ReactiveCircuit<Fuzzy>&, std::uint32_t, Value, double);
template Result<void> leaf::update<Boolean>(ReactiveCircuit<Boolean>&, std::uint32_t, Value,
                                            double);
template Result<void> leaf::update<ProbGradient>(ReactiveCircuit<ProbGradient>&, std::uint32_t,
                                                 Value, double);

}  // namespace talvo
