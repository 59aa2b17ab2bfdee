#include "language/dnf.hpp"

#include <algorithm>

namespace talvo {

void Dnf::remove(std::string_view atom) {
  const auto names_atom = [atom](std::string_view literal) {
    if (literal.starts_with('-')) literal.remove_prefix(1);
    return literal == atom;
  };
  for (auto& conjunction : conjunctions) std::erase_if(conjunction, names_atom);
}

}  // namespace talvo
