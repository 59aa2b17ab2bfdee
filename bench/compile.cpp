// The compiler's cost on a model with many stable models: `compile` against the least that any
// compile must do with the same program, a bare loop through the same solver calls that reads every
// model's true and false atoms as text and keeps nothing.
//
// The model is a noisy or: n independent probability sources, any of which sets off the alarm, so
// the alarm's program has 2^n - 1 stable models (all but the one where no sensor fires).
//
// `bench_compile --write-program N FILE` writes the program of the model with N sources to FILE
// (for timing the solver alone from the shell) and runs no benchmark.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "language/clingo_c.hpp"
#include "language/concepts.hpp"
#include "language/matching.hpp"
#include "language/program.hpp"
#include "language/talvo.hpp"

namespace {

using talvo::LogProb;
using talvo::Talvo;

constexpr int kFewestSources = 10;
constexpr int kMostSources = 16;

std::string model_text(int sources) {
  std::string text;
  for (int i = 0; i < sources; ++i) {
    const std::string sensor = "sensor" + std::to_string(i);
    text += sensor + " <- source(\"/sensors/" + std::to_string(i) + "\", Probability).\n";
    text += "alarm if " + sensor + ".\n";
  }
  text += "alarm -> target(\"/alarm\").\n";
  return text;
}

/// The program that compile hands to the solver for `text`, read and generated the way it does.
std::string program_text(const std::string& text) {
  const talvo::Statements parsed = talvo::parse_statements(text);
  // The model compares no numbers, so no source has comparisons.
  return talvo::generate_program(parsed.clauses, parsed.sources, parsed.categorical_sources,
                                 parsed.targets.front(), {});
}

void check(bool succeeded) {
  if (!succeeded) throw std::runtime_error(clingo_error_message());
}

/// Enumerates the models of `program` and renders every true and false atom of each into one
/// reused buffer. Returns the number of models; `characters` receives the text's total length.
std::size_t read_every_model(const std::string& program, std::size_t& characters) {
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
  std::size_t models = 0;
  characters = 0;
  for (;;) {
    check(clingo_solve_handle_resume(handle));
    const clingo_model_t* model = nullptr;
    check(clingo_solve_handle_model(handle, &model));
    if (model == nullptr) break;
    ++models;
    for (const clingo_show_type_bitset_t show :
         {clingo_show_type_atoms, clingo_show_type_all_complemented}) {
      std::size_t count = 0;
      check(clingo_model_symbols_size(model, show, &count));
      symbols.resize(count);
      check(clingo_model_symbols(model, show, symbols.data(), count));
      for (const clingo_symbol_t symbol : symbols) {
        std::size_t size = 0;
        check(clingo_symbol_to_string_size(symbol, &size));
        if (text.size() < size) text.resize(size);
        check(clingo_symbol_to_string(symbol, text.data(), size));
        characters += size - 1;
      }
    }
  }
  check(clingo_solve_handle_close(handle));
  clingo_control_free(control);
  return models;
}

void BM_SolverLoop(benchmark::State& state) {
  const std::string program = program_text(model_text(static_cast<int>(state.range(0))));
  std::size_t models = 0;
  std::size_t characters = 0;
  for (auto _ : state) {
    models = read_every_model(program, characters);
    benchmark::DoNotOptimize(characters);
  }
  state.counters["models"] = static_cast<double>(models);
}
BENCHMARK(BM_SolverLoop)
    ->DenseRange(kFewestSources, kMostSources, 2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_Compile(benchmark::State& state) {
  const std::string text = model_text(static_cast<int>(state.range(0)));
  std::size_t models = 0;
  for (auto _ : state) {
    auto compiled = Talvo<LogProb>::compile(text, 1);
    if (!compiled) {
      state.SkipWithError(compiled.error().message().c_str());
      break;
    }
    const auto circuit = compiled->circuit()->lock();
    models = circuit->structure.node(circuit->targets.at("/alarm")).minterms.size();
  }
  state.counters["models"] = static_cast<double>(models);
}
BENCHMARK(BM_Compile)
    ->DenseRange(kFewestSources, kMostSources, 2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--write-program") == 0) {
    std::ofstream(argv[3]) << program_text(model_text(std::atoi(argv[2])));
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
