#pragma once
// A compiled PCRE2 pattern (8-bit, UTF with Unicode properties) and the matches it finds. Subjects
// that are not valid UTF-8 never match. Private to the statement front end.

#ifndef PCRE2_CODE_UNIT_WIDTH
#define PCRE2_CODE_UNIT_WIDTH 8
#endif
#include <pcre2.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace talvo::detail {

/// One match: the byte ranges of the whole match and of its groups within the subject.
class RegexMatch {
 public:
  std::size_t begin() const { return groups_[0].first; }
  std::size_t end() const { return groups_[0].second; }
  /// The matched text.
  std::string_view text() const { return subject_.substr(begin(), end() - begin()); }
  /// The text of the named group, or nothing when the group took no part in the match.
  std::optional<std::string_view> group(const char* name) const;

 private:
  friend class Regex;
  RegexMatch(std::string_view subject, const pcre2_code* code,
             std::vector<std::pair<std::size_t, std::size_t>> groups)
      : subject_(subject), code_(code), groups_(std::move(groups)) {}

  std::string_view subject_;
  const pcre2_code* code_;
  std::vector<std::pair<std::size_t, std::size_t>> groups_;
};

/// A pattern compiled once with PCRE2_UTF | PCRE2_UCP, so that \w \s \d \b are Unicode-aware.
/// Matching is safe from several threads at once.
class Regex {
 public:
  /// Compiles `pattern`; a pattern that does not compile is a broken invariant (Panic).
  explicit Regex(std::string_view pattern);

  /// The leftmost match in `subject`, or nothing.
  std::optional<RegexMatch> find(std::string_view subject) const;
  /// Every match from left to right, without overlaps.
  std::vector<RegexMatch> find_all(std::string_view subject) const;

 private:
  struct CodeFree {
    void operator()(pcre2_code* code) const noexcept { pcre2_code_free(code); }
  };
  struct MatchDataFree {
    void operator()(pcre2_match_data* data) const noexcept { pcre2_match_data_free(data); }
  };
  using MatchData = std::unique_ptr<pcre2_match_data, MatchDataFree>;

  std::optional<RegexMatch> find_from(std::string_view subject, std::size_t offset,
                                      std::uint32_t options, pcre2_match_data* data) const;
  MatchData new_match_data() const;

  std::unique_ptr<pcre2_code, CodeFree> code_;
};

}  // namespace talvo::detail
