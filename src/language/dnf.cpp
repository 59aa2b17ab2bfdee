#include "language/dnf.hpp"

#include <unordered_map>
#include <utility>

namespace talvo::detail {

Dnf::Dnf(const std::vector<Conjunction>& conjunctions) {
  std::unordered_map<std::string, std::uint32_t> numbers;
  std::vector<LiteralCode> codes;
  for (const Conjunction& conjunction : conjunctions) {
    codes.clear();
    for (const Literal& literal : conjunction) {
      const bool negated = literal.starts_with('-') && !literal.starts_with("--");
      const std::string_view atom = std::string_view(literal).substr(negated ? 1 : 0);
      const auto [entry, added] =
          numbers.try_emplace(std::string(atom), static_cast<std::uint32_t>(atoms_.size()));
      if (added) add_atom(entry->first);
      codes.push_back(2 * entry->second + (negated ? 1 : 0));
    }
    add_conjunction(codes);
  }
}

std::uint32_t Dnf::add_atom(std::string text) {
  atoms_.push_back(std::move(text));
  return static_cast<std::uint32_t>(atoms_.size() - 1);
}

void Dnf::add_conjunction(std::span<const LiteralCode> literals) {
  literals_.insert(literals_.end(), literals.begin(), literals.end());
  ends_.push_back(literals_.size());
}

std::span<const LiteralCode> Dnf::conjunction(std::size_t index) const {
  const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
  return std::span(literals_).subspan(begin, ends_[index] - begin);
}

Literal Dnf::text(LiteralCode literal) const {
  const std::string& atom = atoms_[literal / 2];
  if (literal % 2 == 0) return atom;
  if (atom.starts_with('-')) return atom.substr(1);
  Literal negated(1, '-');
  negated += atom;
  return negated;
}

std::vector<Conjunction> Dnf::texts() const {
  std::vector<Conjunction> all;
  all.reserve(size());
  for (std::size_t i = 0; i < size(); ++i) {
    Conjunction& conjunction = all.emplace_back();
    for (const LiteralCode literal : this->conjunction(i)) conjunction.push_back(text(literal));
  }
  return all;
}

void Dnf::remove(std::string_view atom) {
  std::vector<bool> names_atom(code_count());
  for (LiteralCode literal = 0; literal < names_atom.size(); ++literal) {
    const Literal text = this->text(literal);
    names_atom[literal] = std::string_view(text).substr(text.starts_with('-') ? 1 : 0) == atom;
  }
  // The kept literals move down in place; each conjunction ends where its last kept one lands.
  std::size_t kept = 0;
  std::size_t begin = 0;
  for (std::size_t& end : ends_) {
    for (std::size_t i = begin; i < end; ++i) {
      if (!names_atom[literals_[i]]) literals_[kept++] = literals_[i];
    }
    begin = std::exchange(end, kept);
  }
  literals_.resize(kept);
}

}  // namespace talvo::detail
