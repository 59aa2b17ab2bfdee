#include "talvo/channels/manager.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <optional>

#include "channels/reader_helpers.hpp"
#include "semirings.hpp"
#include "talvo/channels/ipc_writer.hpp"
#include "talvo/channels/writers.hpp"

namespace talvo {
namespace {

using testing::eventually;
using testing::leaf_value;
using testing::same;
using testing::stored;

template <class S>
class ManagerTest : public ::testing::Test {};
TYPED_TEST_SUITE(ManagerTest, AllSemirings, SemiringNames);

TYPED_TEST(ManagerTest, LeavesAreNumberedInCreationOrderAndListedByIndex) {
  using S = TypeParam;
  Manager<S> manager;
  EXPECT_TRUE(manager.get_names().empty());
  EXPECT_TRUE(manager.get_values().empty());
  EXPECT_TRUE(manager.get_frequencies().empty());
  EXPECT_TRUE(manager.index_map().empty());

  EXPECT_EQ(manager.create_leaf("rain", Value{0.25}), 0u);
  EXPECT_EQ(manager.create_leaf("-rain", Value{0.75}), 1u);
  EXPECT_EQ(manager.create_leaf("rain", Value{0.5}), 2u);
  EXPECT_EQ(manager.get_names(), (std::vector<std::string>{"rain", "-rain", "rain"}));
  EXPECT_EQ(manager.get_frequencies(), (std::vector<double>{0.0, 0.0, 0.0}));
  const std::vector<Value> values = manager.get_values();
  ASSERT_EQ(values.size(), 3u);
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_TRUE(same(values[i], manager.reactive_circuit->lock()->leafs()[i].get_value()));
  }
  EXPECT_EQ(manager.index_map(),
            (std::unordered_map<std::string, std::uint32_t>{{"rain", 0}, {"-rain", 1}}));
}

TYPED_TEST(ManagerTest, TimedWriterStartsFromTheLeafNamedLikeItsChannel) {
  using S = TypeParam;
  Manager<S> manager(make_shared_circuit<S>(3));
  EXPECT_EQ(manager.value_size(), 3u);
  manager.create_leaf("rain", Value{0.2, 0.4, 0.6});
  manager.create_leaf("rain", Value{0.9, 0.9, 0.9});

  const Result<SharedVector> rain = manager.make_timed_writer("/rain", 1e-3);
  ASSERT_TRUE(rain);
  EXPECT_TRUE(same(rain->get(), manager.get_values()[0]));
  const Result<SharedVector> nested = manager.make_timed_writer("/weather/rain", 1e-3);
  ASSERT_TRUE(nested);
  EXPECT_TRUE(same(nested->get(), Value{0.0, 0.0, 0.0}));
  EXPECT_EQ(manager.timed_writers.size(), 2u);
  EXPECT_TRUE(manager.senders().contains("/rain"));
  EXPECT_TRUE(manager.senders().contains("/weather/rain"));
}

TEST(Manager, ALeafThatCannotBeBuiltLeavesTheCircuitUsable) {
  Manager<ProbGradient> manager(make_shared_circuit<ProbGradient>(2));
  EXPECT_EQ(manager.create_leaf("a", Value{0.5, 0.0}), 0u);
  EXPECT_THROW(manager.create_leaf("empty", Value{}), Panic);
  EXPECT_FALSE(manager.reactive_circuit->is_poisoned());
  EXPECT_EQ(manager.create_leaf("b", Value{0.5, 0.0}), 1u);
  EXPECT_EQ(manager.get_names(), (std::vector<std::string>{"a", "b"}));
}

TEST(Manager, ReadRefusesALeafOutsideTheCircuit) {
  Manager<LogProb> manager;
  manager.create_leaf("a", Value{0.5});
  const Result<void> refused = manager.read(1, "/a", false);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().message(), "leaf index 1 is outside the circuit's 1 leaves");
  EXPECT_TRUE(manager.readers.empty());
  EXPECT_TRUE(manager.senders().empty());
  EXPECT_TRUE(manager.read(0, "/a", false));
  EXPECT_EQ(manager.readers.size(), 1u);
  EXPECT_EQ(manager.readers[0].channel, "/a");
}

TEST(Manager, SenderOfAnUnreadChannelLosesItsValues) {
  Manager<Fuzzy> manager;
  const std::uint32_t leaf = manager.create_leaf("a", Value{0.5});
  const IpcWriter early(manager.get_or_create_sender("/a"));
  EXPECT_TRUE(manager.senders().contains("/a"));
  EXPECT_FALSE(early.write(Value{0.1}, 1.0));  // nobody reads this channel

  ASSERT_TRUE(manager.read(leaf, "/a", false));
  const IpcWriter late(manager.get_or_create_sender("/a"));
  EXPECT_TRUE(late.write(Value{0.9}, 2.0));
  EXPECT_FALSE(early.write(Value{0.2}, 3.0));
  EXPECT_TRUE(eventually([&] { return leaf_value(manager.reactive_circuit, leaf)[0] == 0.9; }));
  EXPECT_EQ(manager.reactive_circuit->lock()->leafs()[leaf].estimator.last_timestamp, 2.0);
}

TEST(Manager, ANewReaderReplacesTheSenderWhileOldWritersKeepTheOldChannel) {
  Manager<Fuzzy> manager;
  const std::uint32_t first = manager.create_leaf("first", Value{0.5});
  const std::uint32_t second = manager.create_leaf("second", Value{0.5});
  ASSERT_TRUE(manager.read(first, "/x", false));
  std::optional<IpcWriter> old_writer(manager.get_or_create_sender("/x"));
  ASSERT_TRUE(manager.read(second, "/x", true));
  const IpcWriter new_writer(manager.get_or_create_sender("/x"));

  EXPECT_TRUE(old_writer->write(Value{0.1}, 1.0));
  EXPECT_TRUE(new_writer.write(Value{0.3}, 1.0));
  old_writer.reset();  // the old channel's last sender: its reader drains and ends
  manager.readers[0].handle->wait_finished();
  EXPECT_EQ(leaf_value(manager.reactive_circuit, first)[0], 0.1);
  EXPECT_TRUE(eventually([&] { return leaf_value(manager.reactive_circuit, second)[0] == 0.7; }));
  EXPECT_FALSE(manager.readers[1].handle->finished());
}

TEST(Manager, DualAndCategoricalReadersServeTheirChannels) {
  Manager<Fuzzy> manager(make_shared_circuit<Fuzzy>(2));
  const std::uint32_t leaf = manager.create_leaf("a", Value{0.5, 0.5});
  const std::uint32_t dual = manager.create_leaf("-a", Value{0.5, 0.5});
  const std::vector<std::uint32_t> categories{manager.create_leaf("x", Value{0.0, 0.0}),
                                              manager.create_leaf("y", Value{0.0, 0.0})};
  manager.read_dual(leaf, dual, "/a");
  manager.read_categorical("/xy", categories);
  EXPECT_EQ(manager.dual_readers.size(), 1u);
  EXPECT_EQ(manager.categorical_readers.size(), 1u);
  {
    const IpcWriter writer(manager.get_or_create_sender("/a"));
    EXPECT_TRUE(writer.write(Value{0.25, 0.5}, 1.0));
    const CategoricalWriter categorical(manager.get_or_create_sender("/xy"));
    const std::vector<Value> per_category{Value{0.1, 0.2}, Value{0.9, 0.8}};
    EXPECT_TRUE(categorical.write(per_category, 1.0));
  }
  const auto& circuit = manager.reactive_circuit;
  EXPECT_TRUE(eventually([&] {
    return same(leaf_value(circuit, dual), Value{0.75, 0.5}) &&
           same(leaf_value(circuit, categories[1]), Value{0.9, 0.8});
  }));
  EXPECT_TRUE(same(leaf_value(circuit, leaf), Value{0.25, 0.5}));
  EXPECT_TRUE(same(leaf_value(circuit, categories[0]), Value{0.1, 0.2}));
}

TEST(Manager, TimedWriterFeedsTheReaderOfItsChannel) {
  Manager<Fuzzy> manager;
  const std::uint32_t leaf = manager.create_leaf("level", Value{0.5});
  ASSERT_TRUE(manager.read(leaf, "/level", false));
  const Result<SharedVector> shared = manager.make_timed_writer("/level", 1000.0);
  ASSERT_TRUE(shared);
  ASSERT_TRUE(shared->set(Value{0.125}));
  EXPECT_TRUE(eventually([&] { return leaf_value(manager.reactive_circuit, leaf)[0] == 0.125; }));
  EXPECT_TRUE(manager.stop_timed_writers());
  EXPECT_TRUE(manager.timed_writers.empty());
  EXPECT_TRUE(manager.stop_timed_writers());
  ASSERT_TRUE(shared->set(Value{0.5}));  // the vector outlives its writer; nothing is sent any more
}

TEST(Manager, RefusedFrequencyKeepsNoWriterAndTheManagerUsable) {
  Manager<LogProb> manager;
  for (const double frequency : {0.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
    const Result<SharedVector> refused = manager.make_timed_writer("/t", frequency);
    ASSERT_FALSE(refused);
    EXPECT_TRUE(refused.error().message().starts_with("cannot convert float seconds to Duration"));
  }
  EXPECT_TRUE(manager.timed_writers.empty());
  EXPECT_TRUE(manager.senders().contains("/t"));
  EXPECT_FALSE(manager.reactive_circuit->is_poisoned());
  EXPECT_TRUE(manager.make_timed_writer("/t", 10.0));
  EXPECT_EQ(manager.timed_writers.size(), 1u);
}

TEST(Manager, DroppingItWhileReadersAndTimedWritersRunEndsCleanly) {
  SharedCircuit<Fuzzy> circuit = make_shared_circuit<Fuzzy>(1);
  std::vector<IpcReader> readers;
  {
    Manager<Fuzzy> manager(circuit);
    const std::uint32_t leaf = manager.create_leaf("a", Value{0.5});
    const std::uint32_t dual = manager.create_leaf("-a", Value{0.5});
    manager.read_dual(leaf, dual, "/a");
    ASSERT_TRUE(manager.read(leaf, "/b", true));
    const Result<SharedVector> fast =
        manager.make_timed_writer("/a", std::numeric_limits<double>::infinity());
    ASSERT_TRUE(fast);
    ASSERT_TRUE(fast->set(Value{0.25}));
    ASSERT_TRUE(manager.make_timed_writer("/b", 500.0));
    ASSERT_TRUE(manager.make_timed_writer("/unread", 500.0));
    readers = manager.dual_readers;
    readers.insert(readers.end(), manager.readers.begin(), manager.readers.end());
    EXPECT_TRUE(eventually([&] { return leaf_value(circuit, dual)[0] == 0.75; }));
  }
  for (const IpcReader& reader : readers) reader.handle->wait_finished();
  EXPECT_EQ(circuit.use_count(), 1);
  EXPECT_FALSE(circuit->is_poisoned());
}

TEST(Manager, ItsReadersEndWithItWhileWritersLiveOn) {
  SharedCircuit<Fuzzy> circuit = make_shared_circuit<Fuzzy>(1);
  std::optional<IpcWriter> writer;
  IpcReader reader;
  {
    Manager<Fuzzy> manager(circuit);
    const std::uint32_t leaf = manager.create_leaf("a", Value{0.5});
    ASSERT_TRUE(manager.read(leaf, "/a", false));
    writer.emplace(manager.get_or_create_sender("/a"));
    reader = manager.readers[0];
    ASSERT_TRUE(writer->write(Value{0.25}, 1.0));  // sent before the manager goes: still taken
  }
  reader.handle->wait_finished();
  EXPECT_FALSE(writer->write(Value{0.0625}, 2.0));
  EXPECT_EQ(leaf_value(circuit, 0)[0], 0.25);
}

}  // namespace
}  // namespace talvo
