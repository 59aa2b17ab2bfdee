#include "talvo/core/error.hpp"

namespace talvo {

Error::~Error() = default;

}  // namespace talvo
