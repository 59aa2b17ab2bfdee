#include "channels/manager_impl.hpp"

namespace talvo {

template class Manager<LogProb>;
template class Manager<MaxProduct>;
template class Manager<Fuzzy>;
template class Manager<Boolean>;
template class Manager<ProbGradient>;

}  // namespace talvo
