#include "talvo/core/value.hpp"

#include <atomic>

namespace talvo {

std::shared_ptr<double[]> Value::allocate(std::size_t n) {
  if (n == 0) return {};
  return std::make_shared_for_overwrite<double[]>(n);
}

// ThreadSanitizer does not model fences; the builds with it say so for every one.
#if defined(__SANITIZE_THREAD__)
#pragma GCC diagnostic ignored "-Wtsan"
#endif
void Value::acquire_sole_ownership() noexcept {
  std::atomic_thread_fence(std::memory_order_acquire);
}

}  // namespace talvo
