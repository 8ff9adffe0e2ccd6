#pragma once

#include <string>

namespace SLib {

// True for plain decimal numbers: optional sign, digits with at most one ".",
// e.g. 250, +250, -5, 1.5, 1., .5 and even "-.". No spaces, exponents or
// group separators; the empty text, "." and "-" are rejected.
bool STR_IsNum(const std::string& text);

}  // namespace SLib
