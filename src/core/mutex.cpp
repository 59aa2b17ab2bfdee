#include "talvo/core/mutex.hpp"

#include <atomic>
#include <mutex>
#include <thread>

namespace talvo::detail {

struct PoisonLock::Mutex {
  std::mutex mutex;
  std::atomic<bool> poisoned{false};
  // Written only by the holder, so a thread reads its own id here only while it holds the mutex.
  std::atomic<std::thread::id> holder{};
};

PoisonLock::PoisonLock() : mutex_(std::make_unique<Mutex>()) {}

PoisonLock::~PoisonLock() = default;

void PoisonLock::lock() {
  const std::thread::id self = std::this_thread::get_id();
  if (mutex_->holder.load(std::memory_order_relaxed) == self) throw Panic(kHeldByCallerMessage);
  mutex_->mutex.lock();
  if (mutex_->poisoned.load(std::memory_order_relaxed)) {
    mutex_->mutex.unlock();
    throw Panic(kPoisonedMessage);
  }
  mutex_->holder.store(self, std::memory_order_relaxed);
}

void PoisonLock::unlock() noexcept {
  mutex_->holder.store(std::thread::id{}, std::memory_order_relaxed);
  mutex_->mutex.unlock();
}

void PoisonLock::poison() noexcept {
  mutex_->poisoned.store(true, std::memory_order_release);
}

bool PoisonLock::is_poisoned() const noexcept {
  return mutex_->poisoned.load(std::memory_order_acquire);
}

}  // namespace talvo::detail
