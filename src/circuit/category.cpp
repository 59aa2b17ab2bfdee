#include "circuit/category.hpp"

namespace talvo::detail {

#define TALVO_INSTANTIATE_CATEGORY(S) template struct Category<S>;
TALVO_FOR_EACH_SEMIRING(TALVO_INSTANTIATE_CATEGORY)
#undef TALVO_INSTANTIATE_CATEGORY

}  // namespace talvo::detail
