// Every public operation of every semiring, called from outside the library: each must link.
// A sum of the products 0.5, one and zero, taken in two pieces, checks that the calls did their
// work.

#include <cmath>
#include <cstdio>
#include <talvo/talvo.hpp>
#include <vector>

namespace {

template <class S>
bool sum_in_pieces(double expected) {
  const talvo::Value half = S::encode_leaf_vec(S::prepare_leaf_input(talvo::Value{0.5}, 1), 0);
  if (!S::accepts_leaf(half.size(), 1) || !S::accepts_operand(half.size(), 1)) return false;
  std::vector<double> result(1), product(1), later_result(1);
  std::vector<double> scratch(S::sum_scratch), later_scratch(S::sum_scratch);
  const auto sum = S::start_sum(result, scratch);
  S::fill_one(product);
  S::mul(product, half);
  S::add(sum, product);
  const auto later = S::start_sum(later_result, later_scratch);
  S::add(later, S::one(1));
  S::add(later, S::zero(1));
  S::merge(sum, later);
  S::finish_sum(sum);
  const double value = S::decode_vec(result)[0];
  const double complement = S::decode_vec(S::complement(talvo::Value{0.25}))[0];
  std::printf("%s: sum %.3f, complement of 0.25 %.3f\n", S::name.data(), value, complement);
  return std::abs(value - expected) < 1e-12;
}

}  // namespace

int main() {
  // Probabilities add up; the others take the best product, one.
  const bool right = sum_in_pieces<talvo::LogProb>(1.5) && sum_in_pieces<talvo::MaxProduct>(1.0) &&
                     sum_in_pieces<talvo::Fuzzy>(1.0) && sum_in_pieces<talvo::Boolean>(1.0) &&
                     sum_in_pieces<talvo::ProbGradient>(1.5);
  return right ? 0 : 1;
}
