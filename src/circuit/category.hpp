#pragma once
// A leaf together with its complement leaf (named "-" + name), as the compiler creates them.

#include <string>
#include <vector>

#include "circuit/leaf.hpp"

namespace talvo {

template <Semiring S>
struct Category {
  std::string name;
  std::vector<Leaf<S>> leafs;  // exactly two: the leaf, then its complement

  Category(std::string name, Value value);
};

}  // namespace talvo
