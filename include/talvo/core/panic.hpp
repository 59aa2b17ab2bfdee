#pragma once
// The abort of a call: a broken invariant or a solver failure. Kept free of <expected> so that the
// statement front end can use it under any compiler.

#include <stdexcept>
#include <string>

namespace talvo {

/// Thrown when a call cannot go on because an invariant of the system is broken.
class Panic : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

}  // namespace talvo
