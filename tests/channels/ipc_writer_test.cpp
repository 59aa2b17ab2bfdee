#include "talvo/channels/ipc_writer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

#include "talvo/channels/ipc_channel.hpp"
#include "talvo/channels/writers.hpp"
#include "talvo/core/clock.hpp"

namespace talvo {
namespace {

TEST(IpcWriter, GivenTimestampIsSentUnchangedAndTheVectorShared) {
  auto [sender, receiver] = channel<ValueMessage>();
  const IpcWriter writer(sender);
  const Value value{0.1, 0.2};
  EXPECT_TRUE(writer.write(value, 0.0));
  EXPECT_TRUE(writer.write(Value{0.3}, -12.5));
  const auto first = receiver.recv();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->value.data(), value.data());
  EXPECT_EQ(first->timestamp, 0.0);
  const auto second = receiver.recv();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->value, Value{0.3});
  EXPECT_EQ(second->timestamp, -12.5);
}

TEST(IpcWriter, MissingTimestampIsTheCurrentTime) {
  auto [sender, receiver] = channel<ValueMessage>();
  const IpcWriter writer(sender);
  const double before = *unix_timestamp();
  EXPECT_TRUE(writer.write(Value{1.0}));
  const double after = *unix_timestamp();
  const auto message = receiver.recv();
  ASSERT_TRUE(message);
  EXPECT_GE(message->timestamp, before);
  EXPECT_LE(message->timestamp, after);
}

TEST(IpcWriter, WritingWithoutAReceiverIsAnError) {
  auto [sender, receiver] = channel<ValueMessage>();
  { auto gone = std::move(receiver); }
  EXPECT_EQ(IpcWriter(sender).write(Value{0.5}).error().message(),
            "cannot write: nothing reads its channel any more");
}

TEST(IpcWriter, AVectorTheReaderWouldDropIsRefusedAndNotSent) {
  auto [sender, receiver] = channel<ValueMessage>();
  EXPECT_EQ(IpcWriter(sender).write(Value{}).error().message(),
            "an empty value cannot be written: a leaf holds at least one entry");
  const ProbabilityWriter batch_of_two(sender, AcceptedLengths::of_leaf<LogProb>(2, "x"));
  EXPECT_EQ(
      batch_of_two.write(Value{0.1, 0.2, 0.3}).error().message(),
      "cannot write to source 'x': a value of 3 entries cannot be held by a leaf of a circuit "
      "with value_size 2");
  EXPECT_FALSE(CategoricalWriter(sender, {2, 1}, "/c").write(Value{0.5}));
  // A gradient leaf pads or cuts any vector that is not empty.
  EXPECT_TRUE(ProbabilityWriter(sender, AcceptedLengths::of_leaf<ProbGradient>(2, "x"))
                  .write(Value{0.1, 0.2, 0.3}, 1.0));
  ASSERT_TRUE(batch_of_two.write(Value{0.4}, 2.0));  // one entry holds for every slot

  EXPECT_EQ(receiver.recv()->timestamp, 1.0);
  EXPECT_EQ(receiver.recv()->timestamp, 2.0);
  EXPECT_FALSE(receiver.recv_until(std::chrono::steady_clock::now()));
}

TEST(IpcWriter, EncodingsOfTheTypedWriters) {
  auto [sender, receiver] = channel<ValueMessage>();
  EXPECT_TRUE(ProbabilityWriter(sender).write(Value{0.25, 0.75}, 1.0));
  EXPECT_TRUE(BooleanWriter(sender).write(true, 2.0));
  EXPECT_TRUE(BooleanWriter(sender).write(false, 3.0));
  const std::vector<Value> categories{Value{0.1, 0.2}, Value{0.3, 0.4}, Value{0.6, 0.4}};
  EXPECT_TRUE(CategoricalWriter(sender).write(categories, 4.0));
  EXPECT_TRUE(CategoricalWriter(sender).write(Value{0.5, 0.5}, 5.0));

  const std::vector<Value> expected{Value{0.25, 0.75}, Value{1.0}, Value{0.0},
                                    Value{0.1, 0.2, 0.3, 0.4, 0.6, 0.4}, Value{0.5, 0.5}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto message = receiver.recv();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->value, expected[i]) << "message " << i;
    EXPECT_EQ(message->timestamp, static_cast<double>(i + 1));
  }
}

}  // namespace
}  // namespace talvo
