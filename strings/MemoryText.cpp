#include "strings/MemoryText.h"

#include <cstdio>
#include <iterator>

namespace SLib {

std::string MemoryText(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB"};
    double amount = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    for (; unit + 1 < std::size(kUnits) && amount >= 1024.0; ++unit) amount /= 1024.0;
    char text[48];
    std::snprintf(text, sizeof text, "%.1f %s", amount, kUnits[unit]);
    return text;
}

}  // namespace SLib
