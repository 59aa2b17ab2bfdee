#pragma once
// Unicode-aware text helpers of the statement front end, over UTF-8 held in byte strings. Input
// that is not valid UTF-8 never breaks them: each byte of a malformed sequence counts as one
// character that is neither white space, nor a letter, nor a digit.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::detail::text {

/// One decoded character: its code point and the number of bytes it takes.
struct CodePoint {
  char32_t value;
  std::size_t length;
};

/// Whether `byte` continues a UTF-8 sequence rather than starting a character.
inline bool is_continuation_byte(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

/// Stands for each byte of a malformed sequence.
inline constexpr char32_t kReplacement = 0xFFFD;

/// The character that starts at byte `pos` of `s` (`pos` < `s.size()`).
CodePoint decode_at(std::string_view s, std::size_t pos);

/// Unicode White_Space.
bool is_whitespace(char32_t c);
/// Unicode Uppercase.
bool is_uppercase(char32_t c);
/// Unicode Alphabetic or Numeric.
bool is_alphanumeric(char32_t c);

/// `s` without Unicode white space at either end.
std::string_view trim(std::string_view s);

/// Whether the first character of `s` is an uppercase letter (false for an empty text).
bool starts_with_uppercase(std::string_view s);

/// The pieces of `s` between the separators, empty ones included: "" gives one empty piece.
std::vector<std::string_view> split(std::string_view s, char separator);

/// `pieces` joined with `separator` between them.
std::string join(const std::vector<std::string>& pieces, std::string_view separator);

}  // namespace talvo::detail::text
