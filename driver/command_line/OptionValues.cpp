#include "driver/command_line/OptionValues.h"

#include <charconv>
#include <cstring>
#include <limits>

std::optional<std::uint64_t> ParseCount(const char* text) {
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    std::uint64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const auto digit = static_cast<std::uint64_t>(*text - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return negative ? 0 - value : value;
}

std::string CountProblem(const char* option, const char* text) {
    const std::optional<std::uint64_t> count = ParseCount(text);
    const std::string given = std::string(option) + " " + text;
    if (!count) return given + ": the record count is larger than 18446744073709551615";
    const bool negative = *text == '-';
    if (negative && *count > std::numeric_limits<std::uint32_t>::max()) {
        return given + ": a negative record count wraps around to " + std::to_string(*count) +
               ", more than the 4294967295 records 32-bit indices can address";
    }
    return {};
}

std::optional<std::uint64_t> WholeNumberIn(const char* text, std::uint64_t low, std::uint64_t high) {
    if (*text == '+') ++text;
    if (*text < '0' || *text > '9') return std::nullopt;  // from_chars alone would take a "-"
    std::uint64_t value = 0;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, value);
    if (error != std::errc() || stop != end || value < low || value > high) return std::nullopt;
    return value;
}

std::optional<double> NumberIn(const char* text, double low, double high) {
    double value = 0.0;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, value);
    if (error != std::errc() || stop != end || !(value >= low && value <= high)) return std::nullopt;
    return value;
}

std::string Not(const char* value) {
    return *value == '\0' ? std::string(", not an empty argument") : std::string(", not ") + value;
}
