#include "language/solver_terms.hpp"

#include <cstdint>
#include <vector>

#include "language/text.hpp"

namespace talvo::detail {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

/// A number as the solver's lexer reads one: "0", or digits that do not begin with "0".
bool is_number(std::string_view word) {
  if (word.empty() || (word.size() > 1 && word.front() == '0')) return false;
  for (const char c : word) {
    if (!is_digit(c)) return false;
  }
  return true;
}

/// One operand: the minus signs before it and its word.
struct Operand {
  std::size_t minus_signs = 0;
  std::string_view word;
};

}  // namespace

/// A constant as the solver reads one: underscores, a lower-case ASCII letter, then ASCII letters,
/// digits, underscores and primes.
bool is_constant(std::string_view word) {
  std::size_t at = 0;
  while (at < word.size() && word[at] == '_') ++at;
  if (at == word.size() || word[at] < 'a' || word[at] > 'z') return false;
  for (const char c : word) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!letter && !is_digit(c) && c != '_' && c != '\'') return false;
  }
  return true;
}

std::optional<std::string> evaluated_term(std::string_view term) {
  // Operands joined by "+" or "-"; a sign between two operands joins them, the others negate.
  std::vector<Operand> operands;
  std::vector<char> operators;
  Operand next;
  bool expects_operand = true;
  for (std::size_t pos = 0; pos < term.size();) {
    const text::CodePoint c = text::decode_at(term, pos);
    if (text::is_whitespace(c.value)) {
      pos += c.length;
    } else if (c.value == '+' || c.value == '-') {
      if (expects_operand) {
        if (c.value == '+') return std::nullopt;
        ++next.minus_signs;
      } else {
        operators.push_back(static_cast<char>(c.value));
        expects_operand = true;
      }
      ++pos;
    } else {
      if (!expects_operand) return std::nullopt;
      const std::size_t end = term.find_first_of("+- \t\r\n\f\v", pos);
      next.word =
          term.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
      pos += next.word.size();
      operands.push_back(next);
      next = {};
      expects_operand = false;
    }
  }
  if (expects_operand) return std::nullopt;

  if (operands.size() == 1 && is_constant(operands.front().word)) {
    return (operands.front().minus_signs % 2 == 1 ? "-" : "") + std::string(operands.front().word);
  }
  // Whole numbers in the solver's 32 bits, wrapping around as its arithmetic does.
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < operands.size(); ++i) {
    if (!is_number(operands[i].word)) return std::nullopt;
    std::uint32_t value = 0;
    for (const char digit : operands[i].word) {
      value = value * 10u + static_cast<std::uint32_t>(digit - '0');
    }
    if (operands[i].minus_signs % 2 == 1) value = 0u - value;
    sum = i > 0 && operators[i - 1] == '-' ? sum - value : sum + value;
  }
  return std::to_string(static_cast<std::int32_t>(sum));
}

}  // namespace talvo::detail
