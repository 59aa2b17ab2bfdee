#include "talvo/core/mutex.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

#include "expect_panic.hpp"

namespace talvo {
namespace {

TEST(PoisonMutex, AHolderThatFailsPoisonsEveryLaterLock) {
  PoisonMutex<int> mutex(1);
  *mutex.lock() = 2;
  EXPECT_FALSE(mutex.is_poisoned());
  EXPECT_THROW(
      {
        auto guard = mutex.lock();
        throw std::runtime_error("a holder fails");
      },
      std::runtime_error);
  EXPECT_TRUE(mutex.is_poisoned());
  EXPECT_PANIC((void)mutex.lock(), kPoisonedMessage);
  EXPECT_PANIC((void)mutex.lock(), kPoisonedMessage);
}

TEST(PoisonMutex, ALockTakenAndReleasedDuringUnwindingDoesNotPoison) {
  PoisonMutex<int> mutex(0);
  struct Cleanup {
    PoisonMutex<int>& mutex;
    ~Cleanup() { ++*mutex.lock(); }
  };
  EXPECT_THROW(
      {
        const Cleanup cleanup{mutex};
        throw std::runtime_error("unwinds through the cleanup");
      },
      std::runtime_error);
  EXPECT_FALSE(mutex.is_poisoned());
  EXPECT_EQ(*mutex.lock(), 1);
}

}  // namespace
}  // namespace talvo
