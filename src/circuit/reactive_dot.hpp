#pragma once
// DOT text of a reactive circuit for people: one circle per node, labelled with its target tokens
// and its columns, one arrow per edge, labelled with its memory column and the memory's first
// slot as stored. Tokens are escaped, so that any token stays inside its label.

#include <string>
#include <string_view>

#include "talvo/circuit/reactive.hpp"
#include "talvo/core/error.hpp"
#include "talvo/core/panic.hpp"

namespace talvo {

namespace detail {

/// A stored number with two digits after the point; "inf", "-inf" and "NaN" for the others.
std::string fixed_two_digits(double value);

/// `text` inside a double-quoted DOT string: a double quote or a backslash would end the string
/// or start an escape, so each is written after a backslash.
std::string dot_quoted(std::string_view text);

/// Writes `text` to a file created with mode 0666 (before the umask) or truncated; the error is
/// the operating system's, after the path.
[[nodiscard]] Result<void> write_file(const std::string& path, std::string_view text);

}  // namespace detail

template <Semiring S>
std::string ReactiveCircuit<S>::to_dot_text() const {
  std::string text =
      "digraph ReactiveCircuit {\n"
      "    node [color=\"chartreuse3\" margin=0 penwidth=2];\n"
      "    edge [color=\"gray25\" penwidth=2];\n";

  for (const NodeIndex node : structure_.node_indices()) {
    const AlgebraicCircuit& circuit = structure_.node(node);
    std::string names;
    for (const Column& column : circuit.columns) {
      if (!names.empty()) names += ' ';
      names += column_name(column);
    }
    std::string tokens;
    for (const auto& [token, target] : targets_) {
      if (target == node) tokens += detail::dot_quoted(token);
    }
    text += "    " + std::to_string(node) + " [shape=\"circle\" label=\"P(" + tokens +
            ") = \u03A3\u03A0\\n" + names + "\"];\n";
  }

  for (const EdgeIndex edge : structure_.edge_indices()) {
    const Value& memory = structure_.edge(edge);
    if (memory.empty()) throw Panic("edge " + std::to_string(edge) + " has an empty memory");
    text += "    " + std::to_string(structure_.source(edge)) + " -> " +
            std::to_string(structure_.target(edge)) + " [label=\"M" + std::to_string(edge) + "=" +
            detail::fixed_two_digits(memory[0]) + "\" decorate=\"true\"];\n";
  }

  text += "}\n";
  return text;
}

template <Semiring S>
Result<void> ReactiveCircuit<S>::to_dot(const std::string& path) const {
  return detail::write_file(path, to_dot_text());
}

}  // namespace talvo
