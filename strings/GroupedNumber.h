#pragma once

#include <cstdint>
#include <string>

namespace SLib {

// `value` in decimal with the digit grouping of the environment's locale
// (LC_ALL, LC_NUMERIC, LANG): "1,000,000" under an English locale, "1000000"
// under C. A locale the environment names but the machine lacks falls back to
// the classic locale, so a console line never fails over it.
std::string GroupedNumber(std::uint64_t value);

}  // namespace SLib
