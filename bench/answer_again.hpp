#pragma once
// The loop that times answering again after one source changes in a compiled model: the source's
// leaf and complement leaf are written under the lock, alternating between two probabilities,
// the circuit is updated and the target read.

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "talvo/circuit/leaf.hpp"
#include "talvo/circuit/reactive.hpp"
#include "talvo/core/value.hpp"
#include "talvo/language/talvo.hpp"

namespace talvo::bench {

template <Semiring S>
void answer_again(benchmark::State& state, const Talvo<S>& model, std::uint32_t leaf,
                  std::uint32_t complement, const std::string& target, const double (&p)[2]) {
  const Value inputs[2][2] = {{Value{p[0]}, Value{1.0 - p[0]}}, {Value{p[1]}, Value{1.0 - p[1]}}};
  double now = 0.0;
  std::size_t i = 0;
  for (auto _ : state) {
    const Value(&input)[2] = inputs[++i % 2];
    const auto circuit = model.circuit()->lock();
    now += 1.0;
    if (!leaf::update(*circuit, leaf, input[0], now) ||
        !leaf::update(*circuit, complement, input[1], now))
      state.SkipWithError("refused");
    const UpdateResult answer = circuit->update();
    benchmark::DoNotOptimize(answer.at(target)[0]);
  }
}

}  // namespace talvo::bench
