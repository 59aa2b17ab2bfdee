#include "channels/ipc_writer.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "core/clock.hpp"

namespace talvo {
namespace {

TEST(IpcWriter, GivenTimestampIsSentUnchangedAndTheVectorShared) {
  auto [sender, receiver] = channel<ValueMessage>();
  const IpcWriter writer(sender);
  const Value value{0.1, 0.2};
  writer.write(value, 0.0);
  writer.write(Value{0.3}, -12.5);
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
  writer.write(Value{1.0});
  const double after = *unix_timestamp();
  const auto message = receiver.recv();
  ASSERT_TRUE(message);
  EXPECT_GE(message->timestamp, before);
  EXPECT_LE(message->timestamp, after);
}

TEST(IpcWriter, WritingWithoutAReceiverReturnsNormally) {
  auto [sender, receiver] = channel<ValueMessage>();
  { auto gone = std::move(receiver); }
  const IpcWriter writer(sender);
  EXPECT_NO_THROW(writer.write(Value{0.5}));
  EXPECT_NO_THROW(writer.write(Value{0.5}, 1.0));
}

TEST(IpcWriter, EncodingsOfTheTypedWriters) {
  auto [sender, receiver] = channel<ValueMessage>();
  ProbabilityWriter(sender).write(Value{0.25, 0.75}, 1.0);
  BooleanWriter(sender).write(true, 2.0);
  BooleanWriter(sender).write(false, 3.0);
  const std::vector<Value> categories{Value{0.1, 0.2}, Value{0.3, 0.4}, Value{0.6, 0.4}};
  CategoricalWriter(sender).write(categories, 4.0);
  CategoricalWriter(sender).write(Value{0.5, 0.5}, 5.0);

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
