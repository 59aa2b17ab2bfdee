#pragma once
// A leaf together with its complement leaf (named "-" + name), as the compiler creates them.

#include <string>
#include <utility>
#include <vector>

#include "talvo/circuit/leaf.hpp"

namespace talvo::detail {

template <Semiring S>
struct Category {
  std::string name;
  std::vector<Leaf<S>> leafs;  // exactly two: the leaf, then its complement

  /// The leaf of `value` (index 0) and its complement (index 1), both with frequency 0.0. The
  /// complement is computed from the plain value straight into the semiring's encoding.
  Category(std::string name, Value value) : name(std::move(name)) {
    leafs.reserve(2);
    Value complement = S::complement(value.span());
    leafs.emplace_back(std::move(value), this->name, 0, 0.0);
    leafs.push_back(Leaf<S>::from_encoded(std::move(complement), "-" + this->name, 1, 0.0));
  }
};

#define TALVO_EXTERN_CATEGORY(S) extern template struct Category<S>;
TALVO_FOR_EACH_SEMIRING(TALVO_EXTERN_CATEGORY)
#undef TALVO_EXTERN_CATEGORY

}  // namespace talvo::detail
