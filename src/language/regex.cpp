#include "language/regex.hpp"

#include <new>
#include <string>

#include "talvo/core/panic.hpp"
#include "language/text.hpp"

namespace talvo::detail {

std::optional<std::string_view> RegexMatch::group(const char* name) const {
  const int number = pcre2_substring_number_from_name(code_, reinterpret_cast<PCRE2_SPTR>(name));
  if (number < 0 || static_cast<std::size_t>(number) >= groups_.size()) return std::nullopt;
  const auto [first, last] = groups_[static_cast<std::size_t>(number)];
  if (first == PCRE2_UNSET || last == PCRE2_UNSET) return std::nullopt;
  return subject_.substr(first, last - first);
}

Regex::Regex(std::string_view pattern) {
  int error = 0;
  PCRE2_SIZE error_offset = 0;
  code_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                            PCRE2_UTF | PCRE2_UCP, &error, &error_offset, nullptr));
  if (!code_) {
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(error, message, sizeof message);
    throw Panic("invalid regular expression at offset " + std::to_string(error_offset) + ": " +
                reinterpret_cast<const char*>(message));
  }
}

Regex::MatchData Regex::new_match_data() const {
  MatchData data(pcre2_match_data_create_from_pattern(code_.get(), nullptr));
  if (!data) throw std::bad_alloc();
  return data;
}

std::optional<RegexMatch> Regex::find_from(std::string_view subject, std::size_t offset,
                                           std::uint32_t options, pcre2_match_data* data) const {
  // Every failure (no match, malformed UTF-8, a match or depth limit) reads as no match.
  const int rc = pcre2_match(code_.get(), reinterpret_cast<PCRE2_SPTR>(subject.data()),
                             subject.size(), offset, options, data, nullptr);
  if (rc <= 0) return std::nullopt;
  const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
  const std::uint32_t pairs = pcre2_get_ovector_count(data);
  std::vector<std::pair<std::size_t, std::size_t>> groups;
  groups.reserve(pairs);
  // PCRE2 marks every group that took no part in the match, the trailing ones included, unset.
  for (std::uint32_t i = 0; i < pairs; ++i) groups.emplace_back(ovector[2 * i], ovector[2 * i + 1]);
  return RegexMatch(subject, code_.get(), std::move(groups));
}

std::optional<RegexMatch> Regex::find(std::string_view subject) const {
  const MatchData data = new_match_data();
  return find_from(subject, 0, 0, data.get());
}

std::vector<RegexMatch> Regex::find_all(std::string_view subject) const {
  const MatchData data = new_match_data();
  std::vector<RegexMatch> matches;
  // The first call checks the UTF-8 of the whole subject; later calls start at character
  // boundaries of text already known to be valid, so the check is not repeated.
  std::uint32_t options = 0;
  std::size_t offset = 0;
  while (offset <= subject.size()) {
    auto match = find_from(subject, offset, options, data.get());
    if (!match) break;
    options = PCRE2_NO_UTF_CHECK;
    offset = match->end();
    if (match->end() == match->begin()) {
      if (offset == subject.size()) {
        matches.push_back(std::move(*match));
        break;
      }
      // Step over one whole character after an empty match.
      do {
        ++offset;
      } while (offset < subject.size() && text::is_continuation_byte(subject[offset]));
    }
    matches.push_back(std::move(*match));
  }
  return matches;
}

}  // namespace talvo::detail
