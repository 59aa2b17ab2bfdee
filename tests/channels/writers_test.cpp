#include "talvo/channels/writers.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "channels/reader_helpers.hpp"
#include "talvo/channels/manager.hpp"
#include "talvo/core/clock.hpp"

namespace talvo {
namespace {

using testing::eventually;
using testing::leaf_value;
using testing::same;

/// Two comparisons, "< 20" and "> 30", each on a channel of its own.
struct Comparisons {
  Comparisons() {
    auto [below_sender, below_receiver] = channel<ValueMessage>();
    auto [above_sender, above_receiver] = channel<ValueMessage>();
    entries = {{20.0, false, below_sender}, {30.0, true, above_sender}};
    below.emplace(std::move(below_receiver));
    above.emplace(std::move(above_receiver));
  }
  std::vector<ComparisonSender> entries;
  std::optional<ValueReceiver> below, above;
};

TEST(NumberWriter, SendsOneIndicatorPerComparisonWithOneTimestamp) {
  Comparisons c;
  const NumberWriter writer(c.entries);
  ASSERT_TRUE(writer.write(Value{10.0, 20.0, 25.0, 30.0, 40.0}));
  const auto below = c.below->recv();
  const auto above = c.above->recv();
  ASSERT_TRUE(below && above);
  EXPECT_TRUE(same(below->value, Value{1.0, 0.0, 0.0, 0.0, 0.0}));
  EXPECT_TRUE(same(above->value, Value{0.0, 0.0, 0.0, 0.0, 1.0}));
  EXPECT_EQ(below->timestamp, above->timestamp);
  EXPECT_LE(below->timestamp, *unix_timestamp());

  ASSERT_TRUE(writer.write(Value{25.0}, -3.0));
  EXPECT_EQ(c.below->recv()->timestamp, -3.0);
  EXPECT_EQ(c.above->recv()->timestamp, -3.0);
}

TEST(DensityWriter, SendsCumulativeOrSurvivalProbabilitiesWithOneTimestamp) {
  Comparisons c;
  const DensityWriter writer(c.entries);
  ASSERT_TRUE(writer.write("Normal", {{20.0, 30.0}, {1.0, 1.0}}));
  const auto below = c.below->recv();
  const auto above = c.above->recv();
  ASSERT_TRUE(below && above);
  EXPECT_EQ(below->timestamp, above->timestamp);
  EXPECT_NEAR(below->value[0], 0.5, 1e-8);  // P(x < 20) with mean 20
  EXPECT_NEAR(below->value[1], 0.0, 1e-8);
  EXPECT_NEAR(above->value[0], 0.0, 1e-8);  // P(x > 30) with mean 20
  EXPECT_NEAR(above->value[1], 0.5, 1e-8);
}

TEST(DensityWriter, RefusedDistributionSendsNothing) {
  Comparisons c;
  const DensityWriter writer(c.entries);
  const Result<void> unknown = writer.write("gamma", {{1.0}, {1.0}});
  ASSERT_FALSE(unknown);
  EXPECT_EQ(unknown.error().message(),
            "cannot write: Unknown distribution 'gamma'. Supported: normal, lognormal, "
            "exponential, uniform");
  const Result<void> short_of_lists = writer.write("uniform", {{0.0}}, 1.0);
  ASSERT_FALSE(short_of_lists);
  EXPECT_EQ(short_of_lists.error().message(), "cannot write: Uniform requires [[lows], [highs]]");
  EXPECT_FALSE(c.below->recv_until(std::chrono::steady_clock::now()));
}

TEST(DensityWriter, SendsTheIntervalsOfOneDrawInOneMessage) {
  auto [sender, receiver] = channel<ValueMessage>();
  // Thresholds in any order, repeated ones once: intervals below 1, between 1 and 3, above 3.
  const DensityWriter writer({}, {}, IntervalSender{{3.0, 1.0, 3.0}, 2, sender});
  ASSERT_TRUE(writer.write("uniform", {{0.0, 10.0}, {4.0, 20.0}}));
  const auto sent = receiver.recv();
  ASSERT_TRUE(sent);
  EXPECT_TRUE(same(sent->value, Value{0.25, 0.0, 0.5, 0.0, 0.25, 1.0}));

  // Two distributions cannot fill stretches of three slots.
  const DensityWriter wider({}, {}, IntervalSender{{1.0}, 3, sender});
  const Result<void> refused = wider.write("uniform", {{0.0, 10.0}, {4.0, 20.0}});
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message(),
            "cannot write: a distribution of 2 slots cannot fill intervals of 3 entries");
  EXPECT_FALSE(receiver.recv_until(std::chrono::steady_clock::now()));
}

TEST(FanOutWriters, ReachTheirLeavesThroughDualReaders) {
  Manager<Fuzzy> manager(make_shared_circuit<Fuzzy>(2));
  std::vector<ComparisonSender> entries;
  for (const auto& [name, threshold, greater] :
       {std::tuple{"t_lt_20", 20.0, false}, std::tuple{"t_gt_30", 30.0, true}}) {
    const std::uint32_t leaf = manager.create_leaf(name, Value{0.5});
    const std::uint32_t dual = manager.create_leaf(std::string("-") + name, Value{0.5});
    manager.read_dual(leaf, dual, name);
    entries.push_back({threshold, greater, manager.get_or_create_sender(name)});
  }
  const auto& circuit = manager.reactive_circuit;

  ASSERT_TRUE(NumberWriter(entries).write(Value{10.0, 35.0}, 1.0));
  EXPECT_TRUE(eventually([&] {
    return same(leaf_value(circuit, 0), Value{1.0, 0.0}) &&
           same(leaf_value(circuit, 1), Value{0.0, 1.0}) &&
           same(leaf_value(circuit, 2), Value{0.0, 1.0}) &&
           same(leaf_value(circuit, 3), Value{1.0, 0.0});
  }));

  ASSERT_TRUE(DensityWriter(entries).write("uniform", {{0.0, 20.0}, {40.0, 40.0}}, 2.0));
  // P(x < 20) = [0.5, 0.0]; P(x > 30) = [0.25, 0.5]
  EXPECT_TRUE(eventually([&] {
    return same(leaf_value(circuit, 0), Value{0.5, 0.0}) &&
           same(leaf_value(circuit, 1), Value{0.5, 1.0}) &&
           same(leaf_value(circuit, 2), Value{0.25, 0.5}) &&
           same(leaf_value(circuit, 3), Value{0.75, 0.5});
  }));
}

}  // namespace
}  // namespace talvo
