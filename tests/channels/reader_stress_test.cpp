// Many writers into the readers of one circuit: nothing is lost, each sender's order is kept and
// the two leaves of a dual reader change together.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "channels/reader_helpers.hpp"
#include "circuit/leaf_update.hpp"
#include "circuit/reactive_structure.hpp"
#include "circuit/reactive_update.hpp"
#include "talvo/channels/ipc_reader.hpp"

namespace talvo {
namespace {

/// `Fuzzy` that records, per leaf, the first entry of every value a leaf encodes. Encoding
/// happens under the circuit's lock, so the record needs no lock of its own.
struct Recording : Fuzzy {
  static constexpr std::string_view name = "Recording";
  static inline std::vector<std::vector<double>> seen;

  static Value encode_leaf_vec(std::span<const double> in, std::uint64_t index) {
    if (index < seen.size()) seen[index].push_back(in[0]);
    return Fuzzy::encode_leaf_vec(in, index);
  }
};

TEST(ReaderStress, EightWritersIntoDualReadersOfOneCircuit) {
  constexpr int kChannels = 4;
  constexpr int kWritersPerChannel = 2;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  constexpr std::uint32_t kMessages = 20'000;  // the sanitized Debug build runs the filter slowly
#else
  constexpr std::uint32_t kMessages = 100'000;
#endif
  constexpr double kWriterStride = 1e6;  // value = writer * stride + sequence number

  const auto circuit = make_shared_circuit<Recording>(1);
  for (int c = 0; c < kChannels; ++c) {
    testing::add_leaf(circuit, Value{0.0});  // leaf 2c: the value
    testing::add_leaf(circuit, Value{1.0});  // leaf 2c + 1: one minus the value
  }
  Recording::seen.assign(2 * kChannels, {});

  std::vector<IpcReader> readers;
  std::vector<std::thread> writers;
  for (int c = 0; c < kChannels; ++c) {
    auto [sender, receiver] = channel<ValueMessage>();
    readers.push_back(
        IpcReader::start_dual<Recording>("/c", std::move(receiver), circuit, 2 * c, 2 * c + 1));
    for (int k = 0; k < kWritersPerChannel; ++k) {
      const double base = (c * kWritersPerChannel + k) * kWriterStride;
      writers.emplace_back([base, clone = sender] {
        for (std::uint32_t i = 0; i < kMessages; ++i)
          ASSERT_TRUE(clone.send({Value{base + i}, static_cast<double>(i)}));
      });
    }
  }

  // Meanwhile, whoever holds the lock sees both leaves of a pair changed together.
  std::atomic<bool> done = false;
  std::atomic<int> torn = 0;
  std::thread sampler([&] {
    while (!done) {
      auto locked = circuit->lock();
      for (int c = 0; c < kChannels; ++c)
        if (locked->leafs()[2 * c].value[0] + locked->leafs()[2 * c + 1].value[0] != 1.0) ++torn;
    }
  });

  for (auto& writer : writers) writer.join();
  for (const IpcReader& reader : readers) reader.handle->wait_finished();
  done = true;
  sampler.join();
  EXPECT_EQ(torn, 0);

  for (int c = 0; c < kChannels; ++c) {
    const std::vector<double>& values = Recording::seen[2 * c];
    const std::vector<double>& complements = Recording::seen[2 * c + 1];
    ASSERT_EQ(values.size(), kWritersPerChannel * kMessages);
    ASSERT_EQ(complements.size(), values.size());
    std::vector<std::uint32_t> next(kWritersPerChannel, 0);
    bool ordered = true;
    bool paired = true;
    for (std::size_t m = 0; m < values.size(); ++m) {
      const int writer = static_cast<int>(values[m] / kWriterStride) - c * kWritersPerChannel;
      ASSERT_TRUE(writer >= 0 && writer < kWritersPerChannel) << values[m];
      ordered =
          ordered && values[m] - (writer + c * kWritersPerChannel) * kWriterStride == next[writer];
      ++next[writer];
      paired = paired && complements[m] == 1.0 - values[m];
    }
    EXPECT_TRUE(ordered) << "channel " << c;
    EXPECT_TRUE(paired) << "channel " << c;
    EXPECT_EQ(testing::leaf_value(circuit, 2 * c)[0], values.back());
    EXPECT_EQ(testing::leaf_value(circuit, 2 * c + 1)[0], 1.0 - values.back());
  }
}

}  // namespace
}  // namespace talvo
