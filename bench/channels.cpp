// Messages per second from one writer thread through a dual reader into its two leaves, against
// the reader's own work (the complement and both leaf updates under the lock) done directly on
// the same messages in the same run. The ratio is what the channel and the thread add.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

#include "talvo/channels/ipc_channel.hpp"
#include "talvo/channels/ipc_reader.hpp"
#include "talvo/circuit/reactive.hpp"

namespace {

using talvo::LogProb;
using talvo::SharedCircuit;
using talvo::Value;
using talvo::ValueMessage;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMessages = 50'000;
// Each phase ends on a sentinel of its own, so the end of one is never taken for the other.
constexpr double kDirectSentinel = 0.5;
constexpr double kChannelSentinel = 0.4;

/// One batch: values that alternate between 0.2 and 0.8, so every message is a change, each in
/// a vector of its own, then the sentinel.
std::vector<ValueMessage> batch(std::size_t value_size, double sentinel, double& clock) {
  std::vector<ValueMessage> messages;
  messages.reserve(kMessages + 1);
  for (std::size_t i = 0; i < kMessages; ++i)
    messages.push_back({Value(value_size, i % 2 == 0 ? 0.2 : 0.8), clock += 0.001});
  messages.push_back({Value(value_size, sentinel), clock += 0.001});
  return messages;
}

bool holds(const SharedCircuit<LogProb>& circuit, double sentinel) {
  return circuit->lock()->leafs()[0].value[0] == LogProb::encode_leaf_vec(Value{sentinel}, 0)[0];
}

void BM_DualReaderAgainstDirectWork(benchmark::State& state) {
  const auto value_size = static_cast<std::size_t>(state.range(0));
  const SharedCircuit<LogProb> circuit = talvo::make_shared_circuit<LogProb>(value_size);
  {
    auto locked = circuit->lock();
    if (!locked->add_leaf(Value(value_size, 0.5), "a", 0.0) ||
        !locked->add_leaf(Value(value_size, 0.5), "-a", 0.0))
      throw std::runtime_error("refused leaf");
  }

  auto [sender, receiver] = talvo::channel<ValueMessage>();
  const talvo::IpcReader reader =
      talvo::IpcReader::start_dual<LogProb>("/a", std::move(receiver), circuit, 0, 1);

  double clock = 0.0;
  Clock::duration direct{}, through_channel{};
  for (auto _ : state) {
    std::vector<ValueMessage> messages = batch(value_size, kDirectSentinel, clock);
    const auto direct_start = Clock::now();
    for (ValueMessage& message : messages)
      talvo::detail::reader::handle_dual(*circuit, 0, 1, std::move(message));
    const auto direct_time = Clock::now() - direct_start;
    if (!holds(circuit, kDirectSentinel)) throw std::runtime_error("no sentinel");

    messages = batch(value_size, kChannelSentinel, clock);
    const auto channel_start = Clock::now();
    // The writer outruns the reader, so the queue stays full until the sentinel.
    std::thread writer([&sender, &messages] {
      for (ValueMessage& message : messages) (void)sender.send(std::move(message));
    });
    // The reader holds the circuit's lock most of the time; polling it rarely keeps the wake-ups
    // it costs the reader out of the measurement (at most half a millisecond per batch).
    while (!holds(circuit, kChannelSentinel))
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    const auto channel_time = Clock::now() - channel_start;
    writer.join();

    direct += direct_time;
    through_channel += channel_time;
    state.SetIterationTime(std::chrono::duration<double>(channel_time).count());
  }
  const double messages = static_cast<double>(state.iterations() * (kMessages + 1));
  const double direct_rate = messages / std::chrono::duration<double>(direct).count();
  const double channel_rate = messages / std::chrono::duration<double>(through_channel).count();
  state.counters["direct_msgs_per_s"] = direct_rate;
  state.counters["channel_msgs_per_s"] = channel_rate;
  state.counters["ratio"] = direct_rate / channel_rate;
  state.SetItemsProcessed(static_cast<std::int64_t>(messages));
}

BENCHMARK(BM_DualReaderAgainstDirectWork)
    ->Arg(1)
    ->Arg(64)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
