#include "core/number_text.hpp"

#include <charconv>

namespace talvo::detail {

std::string number_text(double x) {
  char buffer[32];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, x).ptr);
}

}  // namespace talvo::detail
