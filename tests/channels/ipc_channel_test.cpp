#include "talvo/channels/ipc_channel.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "channels/ipc_channel_impl.hpp"

namespace talvo {
namespace {

using namespace std::chrono_literals;

TEST(Channel, DeliversInSendOrderAcrossClonedSenders) {
  auto [first, receiver] = channel<int>();
  const Sender<int> second = first;
  ASSERT_TRUE(first.send(1));
  ASSERT_TRUE(second.send(2));
  ASSERT_TRUE(first.send(3));
  EXPECT_EQ(receiver.recv(), 1);
  EXPECT_EQ(receiver.recv(), 2);
  EXPECT_EQ(receiver.recv(), 3);
}

TEST(Channel, DisconnectsOnlyAfterTheQueueIsDrained) {
  auto [sender, receiver] = channel<int>();
  {
    const Sender<int> clone = sender;
    ASSERT_TRUE(clone.send(1));
    ASSERT_TRUE(sender.send(2));
    { auto gone = std::move(sender); }
    ASSERT_TRUE(clone.send(3));
    // A live clone keeps the channel open.
    EXPECT_EQ(receiver.recv_until(std::chrono::steady_clock::now()), 1);
  }
  EXPECT_EQ(receiver.recv(), 2);
  EXPECT_EQ(receiver.recv(), 3);
  EXPECT_EQ(receiver.recv(), std::nullopt);
  EXPECT_EQ(receiver.recv(), std::nullopt);
}

TEST(Channel, SendToAReleasedReceiverHandsTheMessageBack) {
  auto [sender, receiver] = channel<ValueMessage>();
  { auto gone = std::move(receiver); }
  const Value value{0.25, 0.5};
  auto sent = sender.send(ValueMessage{value, 7.0});
  ASSERT_FALSE(sent);
  EXPECT_EQ(sent.error().message.value.data(), value.data());  // the same storage, not a copy
  EXPECT_EQ(sent.error().message.timestamp, 7.0);
}

TEST(Channel, ReleasingTheReceiverReleasesQueuedMessages) {
  auto [sender, receiver] = channel<ValueMessage>();
  const Value value{1.0};
  ASSERT_TRUE(sender.send(ValueMessage{value, 0.0}));
  EXPECT_TRUE(value.shared());
  { auto gone = std::move(receiver); }
  EXPECT_FALSE(value.shared());
}

TEST(Channel, ReceiveWithDeadlineHasThreeOutcomes) {
  auto [sender, receiver] = channel<int>();
  EXPECT_EQ(receiver.recv_until(std::chrono::steady_clock::now() + 1ms),
            std::unexpected(RecvTimeoutError::Timeout));
  ASSERT_TRUE(sender.send(5));
  EXPECT_EQ(receiver.recv_until(std::chrono::steady_clock::now() - 1s), 5);
  { auto gone = std::move(sender); }
  EXPECT_EQ(receiver.recv_until(std::chrono::steady_clock::now() + 10s),
            std::unexpected(RecvTimeoutError::Disconnected));
}

TEST(Channel, BlockedReceiverWakesForMessagesAndDisconnection) {
  auto [sender, receiver] = channel<int>();
  std::vector<int> received;
  std::thread consumer([&received, receiver = std::move(receiver)]() mutable {
    while (std::optional<int> message = receiver.recv()) received.push_back(*message);
  });
  std::thread producer([sender = std::move(sender)] {
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(sender.send(i));
  });
  producer.join();
  consumer.join();
  ASSERT_EQ(received.size(), 100u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(received[i], i);
}

TEST(Channel, ClosingEndsItForEverySenderOnceTheQueueIsDrained) {
  auto [sender, receiver] = channel<int>();
  const Sender<int> clone = sender;
  std::vector<int> received;
  std::thread consumer([&received, receiver = std::move(receiver)]() mutable {
    while (std::optional<int> message = receiver.recv()) received.push_back(*message);
  });
  ASSERT_TRUE(clone.send(1));
  sender.close();
  EXPECT_FALSE(clone.send(2));
  consumer.join();  // woken although both senders are alive
  EXPECT_EQ(received, std::vector<int>{1});
}

TEST(Channel, ManySendersLoseNothingAndKeepEachSendersOrder) {
  constexpr int kSenders = 8;
  constexpr std::uint32_t kMessages = 100'000;
  using Message = std::pair<int, std::uint32_t>;  // (sender, sequence number)
  auto [sender, receiver] = channel<Message>();
  std::vector<std::thread> producers;
  for (int s = 0; s < kSenders; ++s) {
    producers.emplace_back([s, clone = sender] {
      for (std::uint32_t i = 0; i < kMessages; ++i) (void)clone.send({s, i});
    });
  }
  { auto gone = std::move(sender); }
  std::vector<std::uint32_t> next(kSenders, 0);
  bool ordered = true;
  while (std::optional<Message> message = receiver.recv()) {
    ordered = ordered && message->second == next[message->first];
    ++next[message->first];
  }
  for (auto& producer : producers) producer.join();
  EXPECT_TRUE(ordered);
  for (int s = 0; s < kSenders; ++s) EXPECT_EQ(next[s], kMessages) << "sender " << s;
}

}  // namespace
}  // namespace talvo
