#include "language/negation_cycles.hpp"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <queue>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "language/compile_checks.hpp"
#include "language/defined_atoms.hpp"

namespace talvo::detail {
namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

/// A body literal read by a rule: from the predicate of the rule's head to the literal's.
struct Dependency {
  std::size_t to;
  std::size_t clause;
  std::size_t literal;
  bool through_not;
};

/// Predicates by signature, each with the literals its rules read.
class DependencyGraph {
 public:
  explicit DependencyGraph(const std::vector<Clause>& clauses) {
    for (std::size_t c = 0; c < clauses.size(); ++c) {
      const std::size_t head = node(clauses[c].head);
      for (std::size_t l = 0; l < clauses[c].literals.size(); ++l) {
        const std::string& literal = clauses[c].literals[l];
        const std::string_view atom = strip_negation(literal);
        const std::size_t body = node(atom);
        dependencies_[head].push_back({body, c, l, atom.size() != literal.size()});
      }
    }
  }

  std::size_t size() const { return dependencies_.size(); }
  const std::vector<Dependency>& of(std::size_t node) const { return dependencies_[node]; }
  std::size_t node_of(std::string_view atom) const { return nodes_.at(atom_signature(atom)); }

  /// The strongly connected component of each node (Tarjan's algorithm, without recursion, since
  /// a model may chain thousands of rules).
  std::vector<std::size_t> components() const {
    std::vector<std::size_t> component(size(), kNone);
    std::vector<std::size_t> order(size(), kNone);
    std::vector<std::size_t> low(size(), 0);
    std::vector<std::size_t> stack;
    std::vector<bool> on_stack(size(), false);
    std::vector<std::pair<std::size_t, std::size_t>> calls;  // node, next dependency
    std::size_t visited = 0;
    std::size_t found = 0;
    for (std::size_t root = 0; root < size(); ++root) {
      if (order[root] != kNone) continue;
      calls.emplace_back(root, 0);
      while (!calls.empty()) {
        auto& [node, next] = calls.back();
        if (next == 0) {
          order[node] = low[node] = visited++;
          stack.push_back(node);
          on_stack[node] = true;
        }
        if (next < of(node).size()) {
          const std::size_t to = of(node)[next++].to;
          if (order[to] == kNone) {
            calls.emplace_back(to, 0);
          } else if (on_stack[to]) {
            low[node] = std::min(low[node], order[to]);
          }
          continue;
        }
        const std::size_t done = node;
        calls.pop_back();
        if (!calls.empty()) low[calls.back().first] = std::min(low[calls.back().first], low[done]);
        if (low[done] != order[done]) continue;
        std::size_t member = kNone;
        do {
          member = stack.back();
          stack.pop_back();
          on_stack[member] = false;
          component[member] = found;
        } while (member != done);
        ++found;
      }
    }
    return component;
  }

 private:
  std::size_t node(std::string_view atom) {
    const auto [found, added] = nodes_.try_emplace(atom_signature(atom), dependencies_.size());
    if (added) dependencies_.emplace_back();
    return found->second;
  }

  std::unordered_map<std::string, std::size_t> nodes_;
  std::vector<std::vector<Dependency>> dependencies_;
};

/// A shortest chain of dependencies from `from` to `to` within their component.
std::vector<Dependency> path_within(const DependencyGraph& graph,
                                    const std::vector<std::size_t>& component, std::size_t from,
                                    std::size_t to) {
  std::vector<std::pair<std::size_t, const Dependency*>> reached_by(graph.size(), {kNone, nullptr});
  std::queue<std::size_t> frontier;
  frontier.push(from);
  reached_by[from].first = from;
  while (!frontier.empty() && reached_by[to].first == kNone) {
    const std::size_t node = frontier.front();
    frontier.pop();
    for (const Dependency& dependency : graph.of(node)) {
      if (component[dependency.to] != component[from] || reached_by[dependency.to].first != kNone)
        continue;
      reached_by[dependency.to] = {node, &dependency};
      frontier.push(dependency.to);
    }
  }
  std::vector<Dependency> path;
  for (std::size_t node = to; node != from; node = reached_by[node].first) {
    path.push_back(*reached_by[node].second);
  }
  std::ranges::reverse(path);
  return path;
}

std::string lines_text(const std::vector<std::size_t>& lines) {
  std::string text = lines.size() == 1 ? "line " : "lines ";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string(lines[i]);
  }
  return text;
}

}  // namespace

std::vector<CycleThroughNot> cycles_through_not(const Statements& parsed,
                                                std::string_view semiring) {
  const std::vector<Clause>& clauses = parsed.clauses;
  const DependencyGraph graph(clauses);
  const std::vector<std::size_t> component = graph.components();

  // Per component, the dependency through "not" of its first rule: where its cycle is told.
  std::vector<const Dependency*> first(graph.size(), nullptr);
  for (std::size_t node = 0; node < graph.size(); ++node) {
    for (const Dependency& dependency : graph.of(node)) {
      const std::size_t within = component[node];
      if (!dependency.through_not || component[dependency.to] != within) continue;
      if (first[within] == nullptr || dependency.clause < first[within]->clause) {
        first[within] = &dependency;
      }
    }
  }

  std::vector<CycleThroughNot> found;
  for (const Dependency* dependency : first) {
    if (dependency == nullptr) continue;
    const std::size_t head = graph.node_of(clauses[dependency->clause].head);
    std::vector<Dependency> cycle = path_within(graph, component, dependency->to, head);
    cycle.insert(cycle.begin(), *dependency);

    std::vector<std::size_t> lines;
    std::string reads;
    for (const Dependency& step : cycle) {
      const std::size_t line = parsed.lines.clauses[step.clause];
      lines.push_back(line);
      if (!reads.empty()) reads += ", ";
      reads += quoted(clauses[step.clause].head) + " if " +
               quoted(clauses[step.clause].literals[step.literal]) + " (line " +
               std::to_string(line) + ")";
    }
    std::ranges::sort(lines);
    lines.erase(std::ranges::unique(lines).begin(), lines.end());
    found.push_back(
        {lines.front(),
         "a cycle through \"not\" on " + lines_text(lines) + ": " + reads +
             ". A world may then have no stable model or several, which " + std::string(semiring) +
             " cannot weigh: it would lose the world or count it more than once. A \"not\" may "
             "read only atoms that do not depend on its own rule's head; MaxProduct, Fuzzy and "
             "Boolean take such a model (the target holds in a world where it holds in one of "
             "its stable models)"});
  }
  return found;
}

}  // namespace talvo::detail
