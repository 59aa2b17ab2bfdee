#pragma once
// Helpers shared by the tests of readers, the manager and the writers.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <span>
#include <string>

#include "eventually.hpp"
#include "talvo/circuit/reactive.hpp"
#include "talvo/core/value.hpp"

namespace talvo::testing {

/// What a leaf stores after `leaf::update` accepted `input`.
template <class S>
Value stored(const Value& input, std::size_t value_size, std::uint64_t index) {
  return S::encode_leaf_vec(S::prepare_leaf_input(input, value_size).span(), index);
}

/// Entry-wise equality in which a NaN equals a NaN.
inline ::testing::AssertionResult same(std::span<const double> actual,
                                       std::span<const double> expected) {
  bool equal = actual.size() == expected.size();
  for (std::size_t i = 0; equal && i < actual.size(); ++i)
    equal = actual[i] == expected[i] || (std::isnan(actual[i]) && std::isnan(expected[i]));
  if (equal) return ::testing::AssertionSuccess();
  auto text = [](std::span<const double> v) {
    std::string s = "[";
    for (double x : v) s += std::to_string(x) + " ";
    return s + "]";
  };
  return ::testing::AssertionFailure() << text(actual) << " != " << text(expected);
}

/// Adds a leaf to the circuit; returns its index.
template <class S>
std::uint32_t add_leaf(const SharedCircuit<S>& circuit, Value value, std::string name = "leaf") {
  auto added = circuit->lock()->add_leaf(std::move(value), std::move(name), 0.0);
  EXPECT_TRUE(added);
  return added.value_or(0);
}

template <class S>
Value leaf_value(const SharedCircuit<S>& circuit, std::uint32_t leaf) {
  return circuit->lock()->leafs().at(leaf).value;
}

}  // namespace talvo::testing
