#include "talvo/core/value.hpp"

namespace talvo {

std::shared_ptr<double[]> Value::allocate(std::size_t n) {
  if (n == 0) return {};
  return std::make_shared_for_overwrite<double[]>(n);
}

}  // namespace talvo
