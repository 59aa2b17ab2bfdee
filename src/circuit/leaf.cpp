#include "circuit/leaf.hpp"

#include "circuit/leaf_update.hpp"

namespace talvo {

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
