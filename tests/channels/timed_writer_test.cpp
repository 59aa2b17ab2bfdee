#include "talvo/channels/timed_writer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "talvo/channels/ipc_channel.hpp"

namespace talvo {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kNegative = "cannot convert float seconds to Duration: value is negative";
constexpr const char* kTooBig =
    "cannot convert float seconds to Duration: value is either too big or NaN";

TEST(PeriodOf, RoundsToTheNearestNanosecondWithTiesToEven) {
  EXPECT_EQ(period_of(2.0), (Period{0, 500'000'000}));
  EXPECT_EQ(period_of(0.25), (Period{4, 0}));
  EXPECT_EQ(period_of(3.0), (Period{0, 333'333'333}));
  EXPECT_EQ(period_of(1.5), (Period{0, 666'666'667}));
  EXPECT_EQ(period_of(4096.0), (Period{0, 244'141}));  // 244140.625
  EXPECT_EQ(period_of(1024.0), (Period{0, 976'562}));  // 976562.5 exactly: to even
  EXPECT_EQ(period_of(1e12), (Period{0, 0}));          // a picosecond
  EXPECT_EQ(period_of(std::numeric_limits<double>::infinity()), (Period{0, 0}));
  EXPECT_EQ(period_of(0.1), (Period{10, 0}));
}

TEST(PeriodOf, RefusesFrequenciesWithoutARepresentablePeriod) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(period_of(-1.0), fail(kNegative));
  EXPECT_EQ(period_of(-0.0), fail(kNegative));
  EXPECT_EQ(period_of(0.0), fail(kTooBig));
  EXPECT_EQ(period_of(nan), fail(kTooBig));
  EXPECT_EQ(period_of(std::ldexp(1.0, -64)), fail(kTooBig));  // exactly 2^64 seconds
  EXPECT_EQ(period_of(std::ldexp(1.0, -63)), (Period{std::uint64_t{1} << 63, 0}));
}

/// A writer on a fresh channel; the test keeps only the receiver.
struct Fixture {
  explicit Fixture(double frequency, Value initial = Value{0.5})
      : Fixture(channel<ValueMessage>(), frequency, std::move(initial)) {}
  Fixture(std::pair<ValueSender, ValueReceiver> ends, double frequency, Value initial)
      : shared(std::move(initial)),
        writer(std::move(ends.first), shared, frequency),
        receiver(std::move(ends.second)) {}

  SharedVector shared;
  TimedIpcWriter writer;
  ValueReceiver receiver;
};

TEST(TimedIpcWriter, SendsAtOnceAndThenOncePerPeriod) {
  Fixture f(2.0);
  const auto started = Clock::now();
  ASSERT_TRUE(f.writer.start());
  std::optional<Clock::time_point> first_arrival;
  std::vector<double> stamps;
  for (int i = 0; i < 3; ++i) {
    const auto message = f.receiver.recv();
    ASSERT_TRUE(message);
    if (!first_arrival) first_arrival = Clock::now();
    stamps.push_back(message->timestamp);
  }
  ASSERT_TRUE(f.writer.stop());
  // Generous windows: timing is the behaviour under test, but the machine may be busy. The
  // intervals are taken from the writer's own stamps, so a late receiver does not shorten them.
  EXPECT_LT(*first_arrival - started, std::chrono::milliseconds(400));
  for (int i = 1; i < 3; ++i) {
    EXPECT_GT(stamps[i] - stamps[i - 1], 0.4);
    EXPECT_LT(stamps[i] - stamps[i - 1], 2.0);
  }
}

TEST(TimedIpcWriter, StartingTwiceStartsOneThread) {
  Fixture f(1e-6);  // one send, then a wait of eleven days
  ASSERT_TRUE(f.writer.start());
  ASSERT_TRUE(f.writer.start());
  EXPECT_TRUE(f.writer.running());
  ASSERT_TRUE(f.writer.stop());  // the stop message ends the wait at once
  EXPECT_FALSE(f.writer.running());
  { auto gone = std::move(f.writer); }
  EXPECT_TRUE(f.receiver.recv());
  EXPECT_EQ(f.receiver.recv(), std::nullopt);  // a second thread would have sent a second message
}

TEST(TimedIpcWriter, DeadlineBeyondTheClockWaitsForTheStopAlone) {
  Fixture f(std::ldexp(1.0, -63));  // a period of 2^63 seconds
  ASSERT_TRUE(f.writer.start());
  EXPECT_TRUE(f.receiver.recv());
  EXPECT_TRUE(f.writer.stop());
}

TEST(TimedIpcWriter, DeadlineJustBeyondTheClockWaitsForTheStopAlone) {
  // The clock counts at most 9223372036.854775807 seconds; this period lies past that limit by
  // less than a second, so its nanoseconds alone carry it over.
  Fixture f(1.0 / 9223372036.9);
  ASSERT_TRUE(f.writer.start());
  EXPECT_TRUE(f.receiver.recv());
  EXPECT_TRUE(f.writer.stop());
}

TEST(TimedIpcWriter, UnstartedWriterSendsNothing) {
  Fixture f(100.0);
  { auto gone = std::move(f.writer); }
  EXPECT_EQ(f.receiver.recv(), std::nullopt);
}

TEST(TimedIpcWriter, InfiniteFrequencySendsBackToBackUntilStopped) {
  Fixture f(std::numeric_limits<double>::infinity());
  ASSERT_TRUE(f.writer.start());
  double last = 0.0;
  for (int i = 0; i < 1000; ++i) {
    const auto message = f.receiver.recv();
    ASSERT_TRUE(message);
    EXPECT_GE(message->timestamp, last);
    last = message->timestamp;
  }
  EXPECT_TRUE(f.writer.stop());
  { auto gone = std::move(f.writer); }
  while (f.receiver.recv()) {
  }
}

TEST(TimedIpcWriter, RefusedFrequencyStartsNothing) {
  for (const double frequency : {0.0, -2.0, std::numeric_limits<double>::quiet_NaN()}) {
    Fixture f(frequency);
    const Result<void> started = f.writer.start();
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().message(), frequency < 0.0 ? kNegative : kTooBig);
    EXPECT_FALSE(f.writer.running());
    EXPECT_TRUE(f.writer.stop());
    { auto gone = std::move(f.writer); }
    EXPECT_EQ(f.receiver.recv(), std::nullopt);
  }
}

TEST(TimedIpcWriter, SendsTheSharedVectorWithoutCopyingIt) {
  Fixture f(std::numeric_limits<double>::infinity(), Value{0.1});
  ASSERT_TRUE(f.writer.start());
  const auto first = f.receiver.recv();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->value.data(), f.shared.get().data());
  ASSERT_TRUE(f.shared.set(Value{0.9}));
  std::optional<ValueMessage> message;
  do {
    message = f.receiver.recv();
    ASSERT_TRUE(message);
  } while (message->value == Value{0.1});
  EXPECT_EQ(message->value, Value{0.9});
  EXPECT_EQ(first->value, Value{0.1});  // messages already sent keep the old vector
  EXPECT_TRUE(f.writer.stop());
}

TEST(TimedIpcWriter, StopsWithoutAReader) {
  Fixture f(1000.0);
  { auto gone = std::move(f.receiver); }
  ASSERT_TRUE(f.writer.start());
  EXPECT_TRUE(f.writer.stop());
  EXPECT_TRUE(f.writer.stop());
}

TEST(TimedIpcWriter, MovedWriterKeepsItsThread) {
  Fixture f(1e-6);
  ASSERT_TRUE(f.writer.start());
  TimedIpcWriter moved = std::move(f.writer);
  EXPECT_FALSE(f.writer.running());
  EXPECT_TRUE(moved.running());
  EXPECT_TRUE(moved.stop());
}

}  // namespace
}  // namespace talvo
