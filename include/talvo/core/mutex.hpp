#pragma once
// A poisoning mutex around a value: a guard that is destroyed while an exception unwinds marks the
// mutex poisoned, and every later lock throws `Panic`. A value whose update failed half-way is thus
// never used again.

#include <exception>
#include <mutex>
#include <utility>

#include "talvo/core/panic.hpp"

namespace talvo {

inline constexpr const char* kPoisonedMessage =
    "a mutex was poisoned: an earlier holder failed while holding it";

template <class T>
class PoisonMutex {
 public:
  template <class... Args>
  explicit PoisonMutex(Args&&... args) : value_(std::forward<Args>(args)...) {}

  PoisonMutex(const PoisonMutex&) = delete;
  PoisonMutex& operator=(const PoisonMutex&) = delete;

  /// Exclusive access for one operation. Poisons the mutex when it is destroyed by unwinding.
  class Guard {
   public:
    Guard(Guard&& other) noexcept
        : owner_(std::exchange(other.owner_, nullptr)),
          lock_(std::move(other.lock_)),
          exceptions_(other.exceptions_) {}
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    Guard& operator=(Guard&&) = delete;

    ~Guard() {
      if (owner_ != nullptr && std::uncaught_exceptions() > exceptions_) owner_->poisoned_ = true;
    }

    T& operator*() const noexcept { return owner_->value_; }
    T* operator->() const noexcept { return &owner_->value_; }

   private:
    friend class PoisonMutex;
    explicit Guard(PoisonMutex& owner)
        : owner_(&owner), lock_(owner.mutex_), exceptions_(std::uncaught_exceptions()) {
      if (owner.poisoned_) {
        lock_.unlock();
        owner_ = nullptr;
        throw Panic(kPoisonedMessage);
      }
    }

    PoisonMutex* owner_;
    std::unique_lock<std::mutex> lock_;
    int exceptions_;
  };

  /// Locks; throws `Panic` when the mutex is poisoned.
  [[nodiscard]] Guard lock() { return Guard(*this); }

  bool is_poisoned() const {
    std::lock_guard lock(mutex_);
    return poisoned_;
  }

 private:
  mutable std::mutex mutex_;
  bool poisoned_ = false;
  T value_;
};

}  // namespace talvo
