#include "talvo/core/mutex.hpp"

#include <mutex>

namespace talvo::detail {

struct PoisonLock::Mutex {
  std::mutex mutex;
};

PoisonLock::PoisonLock() : mutex_(std::make_unique<Mutex>()) {}

PoisonLock::~PoisonLock() = default;

void PoisonLock::lock() {
  mutex_->mutex.lock();
  if (poisoned_) {
    mutex_->mutex.unlock();
    throw Panic(kPoisonedMessage);
  }
}

void PoisonLock::unlock() noexcept {
  mutex_->mutex.unlock();
}

bool PoisonLock::is_poisoned() const {
  std::lock_guard lock(mutex_->mutex);
  return poisoned_;
}

}  // namespace talvo::detail
