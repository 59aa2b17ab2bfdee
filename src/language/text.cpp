#include "language/text.hpp"

#include "language/regex.hpp"

namespace talvo::detail::text {
namespace {

bool is_continuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF) {
  return byte >= low && byte <= high;
}

std::string encode(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

// Unicode properties of characters outside ASCII come from PCRE2's tables.
bool has_property(const Regex& property, char32_t c) {
  if (c == kReplacement) return false;
  return property.find(encode(c)).has_value();
}

}  // namespace

CodePoint decode_at(std::string_view s, std::size_t pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[pos + i]); };
  const std::size_t left = s.size() - pos;
  const unsigned char b0 = byte(0);
  const CodePoint malformed{kReplacement, 1};
  if (b0 < 0x80) return {b0, 1};
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (left < 2 || !is_continuation(byte(1))) return malformed;
    return {static_cast<char32_t>(((b0 & 0x1F) << 6) | (byte(1) & 0x3F)), 2};
  }
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    const unsigned char low = b0 == 0xE0 ? 0xA0 : 0x80;
    const unsigned char high = b0 == 0xED ? 0x9F : 0xBF;  // no surrogates
    if (left < 3 || !is_continuation(byte(1), low, high) || !is_continuation(byte(2))) {
      return malformed;
    }
    return {static_cast<char32_t>(((b0 & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F)),
            3};
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    const unsigned char low = b0 == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = b0 == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    if (left < 4 || !is_continuation(byte(1), low, high) || !is_continuation(byte(2)) ||
        !is_continuation(byte(3))) {
      return malformed;
    }
    return {static_cast<char32_t>(((b0 & 0x07) << 18) | ((byte(1) & 0x3F) << 12) |
                                  ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F)),
            4};
  }
  return malformed;
}

bool is_whitespace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

bool is_uppercase(char32_t c) {
  if (c < 0x80) return c >= 'A' && c <= 'Z';
  static const Regex uppercase(R"(\A\p{Uppercase})");
  return has_property(uppercase, c);
}

bool is_alphanumeric(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  static const Regex alphanumeric(R"(\A[\p{Alphabetic}\p{N}])");
  return has_property(alphanumeric, c);
}

std::string_view trim(std::string_view s) {
  std::size_t first = s.size();
  std::size_t last = 0;
  for (std::size_t pos = 0; pos < s.size();) {
    const CodePoint c = decode_at(s, pos);
    if (!is_whitespace(c.value)) {
      if (first == s.size()) first = pos;
      last = pos + c.length;
    }
    pos += c.length;
  }
  if (first == s.size()) return s.substr(s.size());
  return s.substr(first, last - first);
}

bool starts_with_uppercase(std::string_view s) {
  return !s.empty() && is_uppercase(decode_at(s, 0).value);
}

std::vector<std::string_view> split(std::string_view s, char separator) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (std::size_t pos = s.find(separator); pos != std::string_view::npos;
       pos = s.find(separator, start)) {
    pieces.push_back(s.substr(start, pos - start));
    start = pos + 1;
  }
  pieces.push_back(s.substr(start));
  return pieces;
}

std::string join(const std::vector<std::string>& pieces, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) out += separator;
    out += pieces[i];
  }
  return out;
}

}  // namespace talvo::detail::text
