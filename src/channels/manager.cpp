#include "channels/manager_impl.hpp"

namespace talvo {

#define TALVO_INSTANTIATE_MANAGER(S) template class Manager<S>;
TALVO_FOR_EACH_SEMIRING(TALVO_INSTANTIATE_MANAGER)
#undef TALVO_INSTANTIATE_MANAGER

}  // namespace talvo
