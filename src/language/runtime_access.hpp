#pragma once
// What the compiler records in a runtime while it builds it: the comparisons and cause leaves it
// makes, and the batch size once gradients are laid out.

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "talvo/circuit/semiring.hpp"
#include "talvo/language/concepts.hpp"
#include "talvo/language/talvo.hpp"

namespace talvo::detail {

struct RuntimeAccess {
  template <Semiring S>
  static ComparisonsBySource& comparisons_by_source(Talvo<S>& runtime) {
    return runtime.comparisons_by_source_;
  }
  template <Semiring S>
  static std::unordered_map<std::string, std::vector<std::string>>& parameter_groups(
      Talvo<S>& runtime) {
    return runtime.parameter_groups_;
  }
  template <Semiring S>
  static void set_value_size(Talvo<S>& runtime, std::size_t value_size) {
    runtime.value_size_ = value_size;
  }
};

}  // namespace talvo::detail
