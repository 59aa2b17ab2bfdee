#include "language/compile_checks.hpp"

#include <algorithm>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/number_text.hpp"

namespace talvo::detail {
namespace {

/// The mistakes found so far, each with the model line it is about.
class Findings {
 public:
  void add(std::size_t line, std::string message) {
    found_.emplace_back(line, "line " + std::to_string(line) + ": " + std::move(message));
  }

  std::optional<Error> error() {
    if (found_.empty()) return std::nullopt;
    std::ranges::stable_sort(found_, {}, &std::pair<std::size_t, std::string>::first);
    std::string text;
    for (const auto& [line, message] : found_) {
      if (!text.empty()) text += '\n';
      text += message;
    }
    return Error(std::move(text));
  }

 private:
  std::vector<std::pair<std::size_t, std::string>> found_;
};

std::string quoted(std::string_view text) {
  std::string out = "\"";
  out += text;
  out += '"';
  return out;
}

/// Remembers the first line of each name; a name met again is reported with that line.
class FirstUse {
 public:
  /// The line on which `name` was met before, if it was.
  std::optional<std::size_t> met(const std::string& name, std::size_t line) {
    const auto [first, inserted] = lines_.try_emplace(name, line);
    if (inserted) return std::nullopt;
    return first->second;
  }

 private:
  std::unordered_map<std::string, std::size_t> lines_;
};

}  // namespace

std::optional<Error> check_text(std::string_view text) {
  const std::size_t nul = text.find('\0');
  if (nul == std::string_view::npos) return std::nullopt;
  const auto line = std::ranges::count(text.substr(0, nul), '\n') + 1;
  return Error("line " + std::to_string(line) + ": the model text holds a NUL byte");
}

std::optional<Error> check_statements(const Statements& parsed) {
  Findings findings;
  for (const UnreadText& unread : parsed.unread) {
    findings.add(unread.line,
                 unread.ends_statement
                     ? "no statement form reads " + quoted(unread.text)
                     : "the statement " + quoted(unread.text) + " has no closing full stop");
  }

  // Each input atom names leaves and each channel feeds one reader: neither may be given twice.
  FirstUse atoms;
  FirstUse topics;
  const auto input = [&](const std::string& atom, std::size_t line) {
    if (const auto first = atoms.met(solver_atom(atom), line)) {
      findings.add(line, "the input atom " + quoted(atom) + " is already declared on line " +
                             std::to_string(*first));
    }
  };
  const auto channel = [&](const std::string& topic, std::size_t line) {
    if (const auto first = topics.met(topic, line)) {
      findings.add(line, "the channel " + quoted(topic) +
                             " already feeds the source declared on line " +
                             std::to_string(*first));
    }
  };
  // In the order of the model's lines, so that the first declaration is the one kept.
  struct Input {
    std::size_t line;
    const Source* source;
    const CategoricalSource* categorical;
  };
  std::vector<Input> inputs;
  for (std::size_t i = 0; i < parsed.sources.size(); ++i) {
    inputs.push_back({parsed.lines.sources[i], &parsed.sources[i], nullptr});
  }
  for (std::size_t i = 0; i < parsed.categorical_sources.size(); ++i) {
    inputs.push_back(
        {parsed.lines.categorical_sources[i], nullptr, &parsed.categorical_sources[i]});
  }
  std::ranges::stable_sort(inputs, {}, &Input::line);
  for (const Input& in : inputs) {
    if (in.source != nullptr) {
      input(in.source->atom, in.line);
      channel(in.source->topic, in.line);
      continue;
    }
    if (in.categorical->categories.empty()) {
      findings.add(in.line, "the categorical source on " + quoted(in.categorical->topic) +
                                " has no categories");
    }
    for (const std::string& category : in.categorical->categories) input(category, in.line);
    channel(in.categorical->topic, in.line);
  }

  // The grammar writes a probability as 0 or 1 and decimals: only one above 1 is no probability.
  for (std::size_t i = 0; i < parsed.clauses.size(); ++i) {
    const Clause& clause = parsed.clauses[i];
    if (!clause.probability || *clause.probability <= 1.0) continue;
    findings.add(parsed.lines.clauses[i], "the probability " + number_text(*clause.probability) +
                                              " of " + quoted(clause.head) + " is above 1");
  }
  return findings.error();
}

}  // namespace talvo::detail
