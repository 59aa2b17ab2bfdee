#pragma once
// Numbers in the messages people read: the shortest decimal that reads back as the same double,
// written without the C library's locale.

#include <string>

namespace talvo::detail {

/// 1.5 as "1.5", 1e160 as "1e+160"; "nan", "inf" and "-inf" for the others.
std::string number_text(double x);

}  // namespace talvo::detail
