// Closed causes in the rooms model (tests/language/models.hpp): M rooms, each on by a source of
// its own; a room that is off closes the choice of its cause, so about 3^M models close some of
// M causes. Per semiring and M: answering again after one source changes (its leaf and
// complement written under the lock, the circuit updated, the target read), and compiling. The
// counters give the circuit's node count and the most memory that compiling held at once beyond
// what was held before it (allocations through operator new, the solver's included), so that
// the semirings compare within one run.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "answer_again.hpp"
#include "language/models.hpp"
#include "talvo/channels/manager.hpp"
#include "talvo/circuit/reactive.hpp"
#include "talvo/language/talvo.hpp"

namespace {

// Bytes held through operator new, and the most held at once since the last reset.
std::atomic<std::size_t> held{0};
std::atomic<std::size_t> peak{0};

void* counted(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  const std::size_t now = held.fetch_add(malloc_usable_size(block)) + malloc_usable_size(block);
  std::size_t top = peak.load(std::memory_order_relaxed);
  while (now > top && !peak.compare_exchange_weak(top, now)) {
  }
  return block;
}

void uncounted(void* block) noexcept {
  if (block == nullptr) return;
  held.fetch_sub(malloc_usable_size(block));
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) {
  return counted(size);
}
void* operator new[](std::size_t size) {
  return counted(size);
}
void operator delete(void* block) noexcept {
  uncounted(block);
}
void operator delete[](void* block) noexcept {
  uncounted(block);
}
void operator delete(void* block, std::size_t) noexcept {
  uncounted(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  uncounted(block);
}

namespace {

using talvo::Talvo;

/// The model compiled, with the most memory its compile held at once.
template <talvo::Semiring S>
std::pair<Talvo<S>, double> compile_rooms(std::size_t rooms) {
  const std::string text = talvo::testing::rooms_model(rooms);
  const std::size_t before = held.load();
  peak.store(before);
  auto compiled = Talvo<S>::compile(text);
  if (!compiled) throw std::runtime_error(compiled.error().message());
  return {std::move(*compiled), static_cast<double>(peak.load() - before)};
}

template <talvo::Semiring S>
void BM_RoomsAnswer(benchmark::State& state) {
  const auto rooms = static_cast<std::size_t>(state.range(0));
  auto [model, compile_bytes] = compile_rooms<S>(rooms);
  const std::uint32_t x = model.manager().index_map().at("x1");
  const std::uint32_t not_x = model.manager().index_map().at("-x1");
  talvo::bench::answer_again(state, model, x, not_x, "/alarm", {0.3, 0.6});
  state.counters["nodes"] = static_cast<double>(model.circuit()->lock()->structure().node_count());
  state.counters["compile_MB"] = compile_bytes / 1e6;
}

template <talvo::Semiring S>
void BM_RoomsCompile(benchmark::State& state) {
  const auto rooms = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(compile_rooms<S>(rooms).second);
}

void over_rooms(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(8)->Arg(10)->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_RoomsAnswer<talvo::LogProb>)->Apply(over_rooms);
BENCHMARK(BM_RoomsAnswer<talvo::MaxProduct>)->Apply(over_rooms);
BENCHMARK(BM_RoomsAnswer<talvo::Fuzzy>)->Apply(over_rooms);
BENCHMARK(BM_RoomsCompile<talvo::LogProb>)->Apply(over_rooms);
BENCHMARK(BM_RoomsCompile<talvo::MaxProduct>)->Apply(over_rooms);
BENCHMARK(BM_RoomsCompile<talvo::Fuzzy>)->Apply(over_rooms);

}  // namespace

BENCHMARK_MAIN();
