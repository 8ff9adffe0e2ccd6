#include "strings/NumericTest.h"

namespace SLib {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool DigitsWithOptionalPoint(const std::string& text, size_t from, bool pointAllowed) {
    bool pointSeen = false;
    for (size_t i = from; i < text.size(); ++i) {
        if (IsDigit(text[i])) continue;
        if (text[i] == '.' && pointAllowed && !pointSeen) {
            pointSeen = true;
            continue;
        }
        return false;
    }
    return true;
}
}  // namespace

bool STR_IsNum(const std::string& text) {
    if (text.empty()) return false;
    const char first = text[0];
    if (first == '+' || first == '-') return text.size() > 1 && DigitsWithOptionalPoint(text, 1, true);
    if (first == '.') return text.size() > 1 && DigitsWithOptionalPoint(text, 1, false);
    return IsDigit(first) && DigitsWithOptionalPoint(text, 1, true);
}

}  // namespace SLib
