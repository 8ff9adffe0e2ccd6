#include "strings/SignificantDigits.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace SLib {

namespace {

std::string Printed(const char* format, int precision, double value) {
    const int length = std::snprintf(nullptr, 0, format, precision, value);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, precision, value);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

}  // namespace

std::string SignificantDigits(double value, int digits) {
    if (!std::isfinite(value)) return Printed("%.*f", 0, value);
    digits = std::max(digits, 1);
    // The exponent of the value as rounded to `digits` digits, so 999.96 at four
    // digits counts as 1000 and gets no decimal.
    const std::string scientific = Printed("%.*e", digits - 1, value);
    const int exponent = std::atoi(scientific.c_str() + scientific.find('e') + 1);
    return Printed("%.*f", std::max(digits - 1 - exponent, 0), value);
}

std::string ThreeSignificantDigits(double value) {
    if (!std::isfinite(value) || value == 0) return "0";
    const double magnitude = std::fabs(value);
    const auto digitsOf = [](double x) { return static_cast<int>(std::floor(std::log10(x))) + 1; };
    const double scale = std::pow(10.0, digitsOf(magnitude) - 3);
    const double rounded = std::round(magnitude / scale) * scale;
    const int decimals = std::max(0, 3 - digitsOf(rounded));
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::copysign(rounded, value),
                                      std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

}  // namespace SLib
