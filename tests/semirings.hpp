#pragma once
// The five semirings for typed tests:
//   TYPED_TEST_SUITE(Suite, AllSemirings, SemiringNames);

#include <gtest/gtest.h>

#include <string>

#include "circuit/semiring.hpp"

using AllSemirings = ::testing::Types<talvo::LogProb, talvo::MaxProduct, talvo::Fuzzy,
                                      talvo::Boolean, talvo::ProbGradient>;

/// Names typed test instances after the semiring ("LogProb" instead of "0").
struct SemiringNames {
  template <class S>
  static std::string GetName(int) {
    return std::string(S::name);
  }
};
