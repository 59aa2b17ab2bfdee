#pragma once
// Shared pieces of the compiled-model tests: models, the semirings, waiting for reader threads.

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "eventually.hpp"
#include "language/matching.hpp"
#include "language/models.hpp"
#include "semirings.hpp"
#include "talvo/channels/manager.hpp"
#include "talvo/language/talvo.hpp"

namespace talvo::testing {

template <Semiring S>
Talvo<S> compile_ok(std::string_view text, std::size_t value_size = 1, bool verbose = false,
                    std::optional<std::size_t> max_models = std::nullopt) {
  auto compiled = Talvo<S>::compile(text, value_size, verbose, max_models);
  if (!compiled) throw std::runtime_error("compile failed: " + compiled.error().message());
  return std::move(*compiled);
}

template <Semiring S>
std::vector<std::string> leaf_names(Talvo<S>& runtime) {
  return runtime.manager().get_names();
}

template <Semiring S>
std::optional<std::size_t> leaf_index(Talvo<S>& runtime, const std::string& name) {
  const auto names = runtime.manager().get_names();
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return i;
  return std::nullopt;
}

/// What a leaf reads back (slot 0) after it was handed probability `p`.
template <Semiring S>
double stored_as(double p) {
  const double in[] = {p};
  return S::decode_vec(S::encode_leaf_vec(in, 0).span())[0];
}

/// Waits until every named leaf reads back, in its first slots, what it holds after being handed
/// the paired probabilities, one per slot; reader threads deliver asynchronously.
template <Semiring S>
void wait_for_slots(Talvo<S>& runtime,
                    const std::vector<std::pair<std::string, std::vector<double>>>& expected) {
  const bool delivered = eventually([&] {
    const auto names = runtime.manager().get_names();
    const auto values = runtime.manager().get_values();
    bool all = true;
    for (const auto& [name, slots] : expected) {
      bool found = false;
      for (std::size_t i = 0; i < names.size() && !found; ++i) {
        if (names[i] != name || values[i].size() < slots.size()) continue;
        found = true;
        for (std::size_t k = 0; k < slots.size(); ++k)
          found = found && std::abs(values[i][k] - stored_as<S>(slots[k])) < 1e-12;
      }
      all = all && found;
    }
    return all;
  });
  if (!delivered) ADD_FAILURE() << "the reader threads did not deliver the written values";
}

/// The same for slot 0 alone.
template <Semiring S>
void wait_for_leaves(Talvo<S>& runtime,
                     const std::vector<std::pair<std::string, double>>& expected) {
  std::vector<std::pair<std::string, std::vector<double>>> slots;
  for (const auto& [name, p] : expected) slots.emplace_back(name, std::vector<double>{p});
  wait_for_slots(runtime, slots);
}

/// Slot 0 of the target's result, when the update reported it.
template <Semiring S>
std::optional<double> update_target(Talvo<S>& runtime, const std::string& token) {
  const auto circuit = runtime.circuit()->lock();
  const UpdateResult results = circuit->update();
  const auto found = results.find(token);
  if (found == results.end()) return std::nullopt;
  return found->second[0];
}

using Inputs = std::vector<std::pair<std::string, double>>;

/// Writes each probability source's value through its writer, waits for the reader threads and
/// returns slot 0 of the target `token` after a full update.
template <Semiring S>
double answer(Talvo<S>& runtime, const std::string& token, const Inputs& inputs = {}) {
  Inputs delivered;
  for (const auto& [atom, p] : inputs) {
    auto writer = runtime.probability_writer(atom);
    EXPECT_TRUE(writer.has_value()) << atom;
    if (!writer) return -1.0;
    EXPECT_TRUE(writer->write(Value{p}));
    delivered.emplace_back(detail::solver_atom(atom), p);
    delivered.emplace_back("-" + detail::solver_atom(atom), 1.0 - p);
  }
  wait_for_leaves(runtime, delivered);
  const auto circuit = runtime.circuit()->lock();
  return circuit->full_update().at(token)[0];
}

template <Semiring S>
double answer(std::string_view model, const std::string& token, const Inputs& inputs = {}) {
  Talvo<S> runtime = compile_ok<S>(model);
  return answer(runtime, token, inputs);
}

}  // namespace talvo::testing
