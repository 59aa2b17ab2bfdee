#pragma once
// A poisoning mutex around a value: a guard that is destroyed while an exception unwinds marks the
// mutex poisoned, and every later lock throws `Panic`. A value whose update failed half-way is thus
// never used again. A thread that locks a mutex it already holds gets `Panic` too, rather than
// waiting for itself for ever.

#include <exception>
#include <memory>
#include <utility>

#include "talvo/core/panic.hpp"

namespace talvo {

inline constexpr const char* kPoisonedMessage =
    "a mutex was poisoned: an earlier holder failed while holding it";

inline constexpr const char* kHeldByCallerMessage =
    "this thread already holds the lock this call needs (a guard such as the one of "
    "circuit()->lock() is still alive), and waiting for itself would never end: release the guard "
    "first";

namespace detail {

/// The lock and the poison flag of a poisoning mutex. The mutex itself is defined in the library,
/// so that programs including this header do without <mutex>.
class PoisonLock {
 public:
  PoisonLock();
  PoisonLock(const PoisonLock&) = delete;
  PoisonLock& operator=(const PoisonLock&) = delete;
  ~PoisonLock();

  /// Waits for the mutex; throws `Panic`, leaving it unlocked, when it is poisoned, and at once
  /// when the calling thread holds it already.
  void lock();
  void unlock() noexcept;
  /// Marks the mutex poisoned; only its holder calls this.
  void poison() noexcept;
  /// Whether it is poisoned; takes no lock, so its holder may ask too.
  bool is_poisoned() const noexcept;

 private:
  struct Mutex;
  std::unique_ptr<Mutex> mutex_;
};

}  // namespace detail

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
        : owner_(std::exchange(other.owner_, nullptr)), exceptions_(other.exceptions_) {}
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    Guard& operator=(Guard&&) = delete;

    ~Guard() {
      if (owner_ == nullptr) return;
      if (std::uncaught_exceptions() > exceptions_) owner_->lock_.poison();
      owner_->lock_.unlock();
    }

    T& operator*() const noexcept { return owner_->value_; }
    T* operator->() const noexcept { return &owner_->value_; }

   private:
    friend class PoisonMutex;
    explicit Guard(PoisonMutex& owner) : exceptions_(std::uncaught_exceptions()) {
      owner.lock_.lock();
      owner_ = &owner;
    }

    PoisonMutex* owner_ = nullptr;
    int exceptions_;
  };

  /// Locks; throws `Panic` when the mutex is poisoned or the calling thread holds it already.
  [[nodiscard]] Guard lock() { return Guard(*this); }

  bool is_poisoned() const noexcept { return lock_.is_poisoned(); }

 private:
  detail::PoisonLock lock_;
  T value_;
};

}  // namespace talvo
