#include "talvo/channels/ipc_reader.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <vector>

#include "channels/reader_helpers.hpp"
#include "semirings.hpp"

namespace talvo {
namespace {

using testing::add_leaf;
using testing::eventually;
using testing::leaf_value;
using testing::same;
using testing::stored;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class S>
class Readers : public ::testing::Test {};
TYPED_TEST_SUITE(Readers, AllSemirings, SemiringNames);

TYPED_TEST(Readers, DualReaderWritesTheValueAndItsComplementWithOneTimestamp) {
  using S = TypeParam;
  const auto circuit = make_shared_circuit<S>(2);
  const std::uint32_t leaf = add_leaf(circuit, Value{0.0, 0.0}, "a");
  const std::uint32_t dual = add_leaf(circuit, Value{0.0, 0.0}, "-a");
  {
    auto [sender, receiver] = channel<ValueMessage>();
    const IpcReader reader =
        IpcReader::start_dual<S>("/a", std::move(receiver), circuit, leaf, dual);
    ASSERT_TRUE(sender.send({Value{0.2, 0.9}, 42.0}));
    { auto gone = std::move(sender); }
    reader.handle->wait_finished();
  }
  const auto locked = circuit->lock();
  EXPECT_TRUE(same(locked->leafs()[leaf].value, stored<S>(Value{0.2, 0.9}, 2, leaf)));
  EXPECT_TRUE(same(locked->leafs()[dual].value, stored<S>(Value{1.0 - 0.2, 1.0 - 0.9}, 2, dual)));
  EXPECT_EQ(locked->leafs()[leaf].estimator.last_timestamp, 42.0);
  EXPECT_EQ(locked->leafs()[dual].estimator.last_timestamp, 42.0);
}

TYPED_TEST(Readers, SingleReaderWritesTheValueOrItsInverse) {
  using S = TypeParam;
  const auto circuit = make_shared_circuit<S>(1);
  const std::uint32_t plain = add_leaf(circuit, Value{0.5});
  const std::uint32_t inverted = add_leaf(circuit, Value{0.5});
  const std::uint32_t inverted_nan = add_leaf(circuit, Value{0.5});
  std::vector<IpcReader> readers;
  {
    auto [plain_sender, plain_receiver] = channel<ValueMessage>();
    auto [inverted_sender, inverted_receiver] = channel<ValueMessage>();
    auto [nan_sender, nan_receiver] = channel<ValueMessage>();
    readers = {IpcReader::start<S>("/p", std::move(plain_receiver), circuit, plain, false),
               IpcReader::start<S>("/i", std::move(inverted_receiver), circuit, inverted, true),
               IpcReader::start<S>("/n", std::move(nan_receiver), circuit, inverted_nan, true)};
    ASSERT_TRUE(plain_sender.send({Value{1.0}, 1.0}));
    ASSERT_TRUE(inverted_sender.send({Value{1.0}, 1.0}));
    ASSERT_TRUE(nan_sender.send({Value{kNaN}, 1.0}));
  }  // the senders go; the readers drain their queues and end
  for (const IpcReader& reader : readers) reader.handle->wait_finished();
  EXPECT_TRUE(same(leaf_value(circuit, plain), stored<S>(Value{1.0}, 1, plain)));
  EXPECT_TRUE(same(leaf_value(circuit, inverted), stored<S>(Value{0.0}, 1, inverted)));
  EXPECT_TRUE(same(leaf_value(circuit, inverted_nan), stored<S>(Value{kNaN}, 1, inverted_nan)));
}

TYPED_TEST(Readers, NotANumberStaysNotANumberInTheComplement) {
  using S = TypeParam;
  const auto circuit = make_shared_circuit<S>(1);
  const std::uint32_t leaf = add_leaf(circuit, Value{0.5});
  const std::uint32_t dual = add_leaf(circuit, Value{0.5});
  {
    auto [sender, receiver] = channel<ValueMessage>();
    const IpcReader reader =
        IpcReader::start_dual<S>("/a", std::move(receiver), circuit, leaf, dual);
    ASSERT_TRUE(sender.send({Value{kNaN}, 1.0}));
    { auto gone = std::move(sender); }
    reader.handle->wait_finished();
  }
  EXPECT_TRUE(std::isnan(detail::one_minus(Value{kNaN})[0]));
  EXPECT_TRUE(same(leaf_value(circuit, leaf), stored<S>(Value{kNaN}, 1, leaf)));
  EXPECT_TRUE(same(leaf_value(circuit, dual), stored<S>(Value{kNaN}, 1, dual)));
}

TYPED_TEST(Readers, CategoricalReaderCutsTheMessageIntoStretches) {
  using S = TypeParam;
  const Value initial{0.0, 0.0};
  struct Case {
    Value message;
    int categories_written;
  };
  const std::vector<Case> cases{{Value{0.1, 0.2, 0.3, 0.4, 0.5, 0.6}, 3},
                                {Value{0.1, 0.2, 0.3, 0.4, 0.5}, 2},
                                {Value{0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8}, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message.size());
    const auto circuit = make_shared_circuit<S>(2);
    std::vector<std::uint32_t> leaves;
    for (int j = 0; j < 3; ++j) leaves.push_back(add_leaf(circuit, initial));
    {
      auto [sender, receiver] = channel<ValueMessage>();
      const IpcReader reader =
          IpcCategoricalReader::start<S>("/c", std::move(receiver), leaves, circuit, 2);
      ASSERT_TRUE(sender.send({c.message, 3.0}));
      { auto gone = std::move(sender); }
      reader.handle->wait_finished();
    }
    for (int j = 0; j < 3; ++j) {
      const Value expected = j < c.categories_written
                                 ? stored<S>(Value{c.message[2 * j], c.message[2 * j + 1]}, 2, j)
                                 : stored<S>(initial, 2, j);
      EXPECT_TRUE(same(leaf_value(circuit, leaves[j]), expected)) << "category " << j;
    }
  }
}

TEST(Reader, HandlesQueuedMessagesAfterTheLastSenderWent) {
  const auto circuit = make_shared_circuit<Fuzzy>(1);
  const std::uint32_t leaf = add_leaf(circuit, Value{0.0});
  auto [sender, receiver] = channel<ValueMessage>();
  for (int i = 1; i <= 100; ++i) ASSERT_TRUE(sender.send({Value{i / 100.0}, double(i)}));
  { auto gone = std::move(sender); }
  const IpcReader reader = IpcReader::start<Fuzzy>("/q", std::move(receiver), circuit, leaf, false);
  reader.handle->wait_finished();
  EXPECT_TRUE(reader.handle->finished());
  EXPECT_TRUE(same(leaf_value(circuit, leaf), Value{1.0}));
  EXPECT_EQ(circuit->lock()->leafs()[leaf].estimator.last_timestamp, 100.0);
}

TEST(Reader, RefusedMessagesAreDroppedAndTheReaderGoesOn) {
  const auto circuit = make_shared_circuit<LogProb>(2);
  const std::uint32_t leaf = add_leaf(circuit, Value{0.5, 0.5});
  const std::uint32_t dual = add_leaf(circuit, Value{0.5, 0.5});
  auto [bad_sender, bad_receiver] = channel<ValueMessage>();
  auto [dual_sender, dual_receiver] = channel<ValueMessage>();
  auto [cat_sender, cat_receiver] = channel<ValueMessage>();
  const std::vector<IpcReader> readers{
      IpcReader::start<LogProb>("/bad", std::move(bad_receiver), circuit, 7, false),
      IpcReader::start_dual<LogProb>("/d", std::move(dual_receiver), circuit, leaf, dual),
      IpcCategoricalReader::start<LogProb>("/c", std::move(cat_receiver), {dual, 9}, circuit, 2)};

  ASSERT_TRUE(bad_sender.send({Value{0.3, 0.3}, 1.0}));            // no leaf 7
  ASSERT_TRUE(dual_sender.send({Value{0.1, 0.2, 0.3}, 1.0}));      // a length no leaf can hold
  ASSERT_TRUE(cat_sender.send({Value{0.9, 0.9, 0.9, 0.9}, 1.0}));  // no leaf 9: nothing changes
  ASSERT_TRUE(dual_sender.send({Value{0.25, 0.75}, 2.0}));
  EXPECT_TRUE(eventually([&] {
    return same(leaf_value(circuit, leaf), stored<LogProb>(Value{0.25, 0.75}, 2, leaf));
  }));
  { auto gone = std::move(bad_sender); }
  { auto gone = std::move(dual_sender); }
  { auto gone = std::move(cat_sender); }
  for (const IpcReader& reader : readers) reader.handle->wait_finished();
  EXPECT_FALSE(circuit->is_poisoned());
  EXPECT_TRUE(same(leaf_value(circuit, dual), stored<LogProb>(Value{0.75, 0.25}, 2, dual)));
  EXPECT_EQ(circuit->lock()->leafs().size(), 2u);
}

TEST(Reader, EndsWhenItFindsTheCircuitPoisoned) {
  const auto circuit = make_shared_circuit<LogProb>(1);
  const std::uint32_t leaf = add_leaf(circuit, Value{0.5});
  auto [sender, receiver] = channel<ValueMessage>();
  const IpcReader reader =
      IpcReader::start<LogProb>("/p", std::move(receiver), circuit, leaf, false);
  try {
    auto locked = circuit->lock();
    throw std::runtime_error("a holder fails");
  } catch (const std::runtime_error&) {
  }
  ASSERT_TRUE(circuit->is_poisoned());
  ASSERT_TRUE(sender.send({Value{0.7}, 1.0}));
  reader.handle->wait_finished();  // while its sender is still alive
  EXPECT_FALSE(sender.send({Value{0.7}, 2.0}));
}

}  // namespace
}  // namespace talvo
