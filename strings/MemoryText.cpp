#include "strings/MemoryText.h"

#include <cstdio>
#include <iterator>

#include "strings/SignificantDigits.h"

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

std::string SizeText(std::uint64_t bytes) {
    if (bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
    if (bytes >= kMiB) return ThreeSignificantDigits(static_cast<double>(bytes) / kMiB) + " MiB";
    if (bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
    return std::to_string(bytes) + " bytes";
}

std::string WholeMiBText(std::uint64_t bytes, Rounding rounding) {
    const std::uint64_t whole = rounding == Rounding::Up ? (bytes + kMiB - 1) / kMiB : bytes / kMiB;
    return std::to_string(whole) + " MiB";
}

}  // namespace SLib
