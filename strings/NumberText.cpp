#include "strings/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace SLib {

namespace {
constexpr size_t kTextCapacity = 128;  // the longest cell text we produce
}

std::string STR_FromNum(int value) { return std::to_string(value); }

std::string STR_FromNum(double value, int precision) {
    char text[kTextCapacity];
    const int written = std::snprintf(text, sizeof text, "%.*f", precision, value);
    if (written >= 0 && static_cast<size_t>(written) < sizeof text) return std::string(text, written);

    const auto [end, error] = std::to_chars(text, text + sizeof text, value);
    if (error != std::errc()) return "Invalid";
    std::string shortest(text, end);
    const size_t exponent = shortest.find('e');
    if (precision > 14 || exponent == std::string::npos) return shortest;
    const double mantissa = std::strtod(shortest.substr(0, exponent).c_str(), nullptr);
    return STR_FromNum(mantissa, precision) + shortest.substr(exponent);
}

std::string STR_FromNum(double value, int minDecimals, int precision, int noiseFrom) {
    std::string text = STR_FromNum(value, precision);
    if (text.find('e') == std::string::npos) Impl::PrecisionTrim(text, minDecimals, noiseFrom);
    return text;
}

void STR_DecimalRound(std::string& text, int decimals) {
    const size_t point = text.find('.');
    if (point == std::string::npos || decimals < 0) return;
    if (text.size() - point - 1 <= static_cast<size_t>(decimals)) return;
    const size_t keep = point + decimals + 1;

    bool carryOut = false;
    if (text[keep] > '4') {
        carryOut = true;
        for (size_t i = keep; i-- > 0;) {
            char& c = text[i];
            if (c == '.' || c == '-') continue;
            if (c == '9') {
                c = '0';
                continue;
            }
            if (c >= '0' && c <= '8') {
                ++c;
                carryOut = false;
                break;
            }
        }
    }
    text.resize(keep);
    if (text.back() == '.') text.pop_back();
    if (carryOut) text.insert(text[0] == '-' ? 1 : 0, 1, '1');
}

namespace Impl {

void PrecisionTrim(std::string& text, int minDecimals, int noiseFrom) {
    const size_t point = text.find('.');
    if (point == std::string::npos) return;
    const size_t decimals = text.size() - point - 1;
    const bool lastIsNoise = decimals >= static_cast<size_t>(std::max(noiseFrom, 0));
    if (text.size() < (lastIsNoise ? 2u : 1u)) return;
    const size_t examined = text.size() - (lastIsNoise ? 2 : 1);
    if (examined <= point) return;

    const char digit = text[examined];
    if (digit != '0' && digit != '9') return;
    size_t runStart = examined;
    while (runStart - 1 > point && text[runStart - 1] == digit) --runStart;
    const size_t runLength = examined - runStart + 1;
    const int decimalsBeforeRun = static_cast<int>(runStart - point - 1);

    if (digit == '9' && runLength + (lastIsNoise ? 1 : 0) <= 2) return;
    STR_DecimalRound(text, std::max(minDecimals, decimalsBeforeRun));
}

}  // namespace Impl

std::string STR_Typed(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace SLib
