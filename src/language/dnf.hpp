#pragma once
// The formula in disjunctive normal form that solving gives: one conjunction of literals per stable
// model, in the order the solver found them. Each distinct atom's text is held once, in a table;
// a conjunction holds its literals as numbers into that table, so that a formula of many models
// over few atoms costs a few bytes per literal.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::detail {

/// A literal's text: an atom as the solver renders it (`wet`, `warm_cause_0(k1)`), with a leading
/// "-" when the atom is false in the model.
using Literal = std::string;

/// The literal texts of one stable model: its true atoms, then the negations of its false atoms.
using Conjunction = std::vector<Literal>;

/// A literal as the formula holds it: twice the number of its atom in the table, plus one when the
/// atom is false.
using LiteralCode = std::uint32_t;

/// A disjunction of conjunctions, one per stable model.
class Dnf {
 public:
  Dnf() = default;

  /// The formula of these literal texts, in their order. A text with one leading "-" stands for
  /// the false atom after it, any other text for the true atom it names.
  explicit Dnf(const std::vector<Conjunction>& conjunctions);

  /// Appends `text` to the atom table and returns its number; atoms are numbered from 0 in the
  /// order they are added. The caller adds each atom once.
  std::uint32_t add_atom(std::string text);

  /// Appends one conjunction of these literals, each of an atom already in the table.
  void add_conjunction(std::span<const LiteralCode> literals);

  /// The number of conjunctions.
  std::size_t size() const { return ends_.size(); }

  /// The literals of the `index`-th conjunction, in their order.
  std::span<const LiteralCode> conjunction(std::size_t index) const;

  /// The number of literal codes there can be: two per atom of the table.
  std::size_t code_count() const { return 2 * atoms_.size(); }

  /// The text of a literal: its atom's text, or for a false atom its negation, which drops the
  /// text's leading "-" when it has one and puts "-" before it otherwise.
  Literal text(LiteralCode literal) const;

  /// The literal texts of every conjunction, in order.
  std::vector<Conjunction> texts() const;

  /// Removes `atom` in both polarities from every conjunction, keeping the order of the other
  /// literals. Only one leading "-" is taken as negation, so "--atom" stays. A conjunction that
  /// becomes empty stays in the formula: there is still one conjunction per model.
  void remove(std::string_view atom);

  /// Formulas are equal when their conjunctions have the same literal texts in the same order.
  friend bool operator==(const Dnf& a, const Dnf& b) { return a.texts() == b.texts(); }

 private:
  std::vector<std::string> atoms_;
  std::vector<LiteralCode> literals_;  // every conjunction's literals, one after another
  std::vector<std::size_t> ends_;      // per conjunction, the end of its literals in `literals_`
};

}  // namespace talvo::detail
