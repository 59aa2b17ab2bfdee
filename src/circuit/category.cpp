#include "circuit/category.hpp"

namespace talvo {

template struct Category<LogProb>;
template struct Category<MaxProduct>;
template struct Category<Fuzzy>;
template struct Category<Boolean>;
template struct Category<ProbGradient>;

}  // namespace talvo
