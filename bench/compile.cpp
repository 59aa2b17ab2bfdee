// The compiler's cost on a model with many stable models: `compile` against the least that any
// compile must do with the same program, a bare loop through the same solver calls that yields
// every model and reads its true and false symbols, once as they are and once rendered as text.
//
// The model is a noisy or: n independent probability sources, each of which sets off the alarm
// through a probabilistic clause of its own, and two more probabilistic clauses over conjunctions
// of the first four sources. Every source and every cause is chosen freely, so the program has
// close to 2^(2n + 2) stable models (those where the alarm holds), each over the same 2n + 4 atoms.
//
// `bench_compile --write-program N FILE` writes the program of the model with N sources to FILE
// (for timing the solver alone from the shell) and runs no benchmark.
//
// `bench_compile --peak-memory N` compiles the model with N sources once in this process and prints
// the peak resident memory that compile adds, per literal of the formula (one literal per atom of
// every stable model). The baseline is the peak after compiling the smallest model, so that the
// solver's and the thread pool's one-off set-up is not counted.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "language/clingo_c.hpp"
#include "language/matching.hpp"
#include "language/program.hpp"
#include "talvo/language/concepts.hpp"
#include "talvo/language/talvo.hpp"

namespace {

using talvo::LogProb;
using talvo::Talvo;

constexpr int kFewestSources = 4;
constexpr int kMostSources = 7;  // about 2^16 stable models

std::string model_text(int sources) {
  std::string text;
  for (int i = 0; i < sources; ++i) {
    const std::string sensor = "sensor" + std::to_string(i);
    text += sensor + " <- source(\"/sensors/" + std::to_string(i) + "\", Probability).\n";
    text += "alarm <- P(0.9) if " + sensor + ".\n";
  }
  text += "both if sensor0 and sensor1.\n";
  text += "alarm <- P(0.9) if both.\n";
  text += "alarm <- P(0.9) if sensor2 and sensor3.\n";
  text += "alarm -> target(\"/alarm\").\n";
  return text;
}

/// The program that compile hands to the solver for `text`, read and generated the way it does.
std::string program_text(const std::string& text) {
  const talvo::detail::Statements parsed = talvo::detail::parse_statements(text);
  // The model compares no numbers, so no source has comparisons.
  return talvo::detail::generate_program(parsed.clauses, parsed.sources, parsed.categorical_sources,
                                         parsed.targets.front(), {});
}

void check(bool succeeded) {
  if (!succeeded) throw std::runtime_error(clingo_error_message());
}

/// What a pass over the models saw.
struct Counts {
  std::size_t models = 0;
  std::size_t symbols = 0;     ///< true and false symbols of all models
  std::size_t characters = 0;  ///< length of their texts, when rendered
  std::uint64_t mix = 0;       ///< every symbol folded in, so that reading them is not skipped
};

/// Enumerates the models of `program` and reads every true and false symbol of each; with
/// `render`, also renders each one into one reused buffer.
Counts read_every_model(const std::string& program, bool render) {
  const char* const arguments[] = {"--models=0"};
  clingo_control_t* control = nullptr;
  check(clingo_control_new(arguments, 1, nullptr, nullptr, 0, &control));
  check(clingo_control_add(control, "base", nullptr, 0, program.c_str()));
  const char* base = nullptr;
  check(clingo_add_string("base", &base));
  const clingo_part_t part{base, nullptr, 0};
  check(clingo_control_ground(control, &part, 1, nullptr, nullptr));
  clingo_solve_handle_t* handle = nullptr;
  check(clingo_control_solve(control, clingo_solve_mode_yield, nullptr, 0, nullptr, nullptr,
                             &handle));
  std::vector<clingo_symbol_t> symbols;
  std::string text;
  Counts counts;
  for (;;) {
    check(clingo_solve_handle_resume(handle));
    const clingo_model_t* model = nullptr;
    check(clingo_solve_handle_model(handle, &model));
    if (model == nullptr) break;
    ++counts.models;
    for (const clingo_show_type_bitset_t show :
         {clingo_show_type_atoms, clingo_show_type_all_complemented}) {
      std::size_t count = 0;
      check(clingo_model_symbols_size(model, show, &count));
      symbols.resize(count);
      check(clingo_model_symbols(model, show, symbols.data(), count));
      counts.symbols += count;
      for (const clingo_symbol_t symbol : symbols) {
        counts.mix = counts.mix * 31 + symbol;
        if (!render) continue;
        std::size_t size = 0;
        check(clingo_symbol_to_string_size(symbol, &size));
        if (text.size() < size) text.resize(size);
        check(clingo_symbol_to_string(symbol, text.data(), size));
        counts.characters += size - 1;
      }
    }
  }
  check(clingo_solve_handle_close(handle));
  clingo_control_free(control);
  return counts;
}

/// Each benchmark runs over the same model sizes and is timed by the wall clock.
void over_model_sizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->DenseRange(kFewestSources, kMostSources)->UseRealTime()->Unit(benchmark::kMillisecond);
}

void solver_loop(benchmark::State& state, bool render) {
  const std::string program = program_text(model_text(static_cast<int>(state.range(0))));
  Counts counts;
  for (auto _ : state) {
    counts = read_every_model(program, render);
    benchmark::DoNotOptimize(counts);
  }
  state.counters["models"] = static_cast<double>(counts.models);
}

void BM_SymbolLoop(benchmark::State& state) {
  solver_loop(state, false);
}
BENCHMARK(BM_SymbolLoop)->Apply(over_model_sizes);

void BM_TextLoop(benchmark::State& state) {
  solver_loop(state, true);
}
BENCHMARK(BM_TextLoop)->Apply(over_model_sizes);

/// The number of products of the alarm's node after compiling the model with `sources` sources.
std::size_t compile_products(int sources) {
  auto compiled = Talvo<LogProb>::compile(model_text(sources), 1);
  if (!compiled) throw std::runtime_error(compiled.error().message());
  const auto circuit = compiled->circuit()->lock();
  return circuit->structure().node(circuit->targets().at("/alarm")).minterms.size();
}

void BM_Compile(benchmark::State& state) {
  std::size_t models = 0;
  for (auto _ : state) models = compile_products(static_cast<int>(state.range(0)));
  state.counters["models"] = static_cast<double>(models);
}
BENCHMARK(BM_Compile)->Apply(over_model_sizes);

/// The peak resident memory of this process so far, in bytes.
double peak_resident_bytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

int report_peak_memory(int sources) {
  compile_products(kFewestSources);
  const double baseline = peak_resident_bytes();
  const std::size_t models = compile_products(sources);
  const double peak = peak_resident_bytes();
  // Counted after the peak is taken: the bare loop holds no more than a model at a time.
  const Counts counts = read_every_model(program_text(model_text(sources)), false);
  std::cout << "models " << models << ", literals " << counts.symbols << ", peak added "
            << (peak - baseline) / 1e6 << " MB, " << (peak - baseline) / counts.symbols
            << " bytes per literal\n";
  return models == counts.models ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--write-program") == 0) {
    std::ofstream(argv[3]) << program_text(model_text(std::atoi(argv[2])));
    return 0;
  }
  if (argc == 3 && std::strcmp(argv[1], "--peak-memory") == 0) {
    return report_peak_memory(std::atoi(argv[2]));
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
