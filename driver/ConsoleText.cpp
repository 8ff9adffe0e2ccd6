#include "driver/ConsoleText.h"

#include <locale>
#include <sstream>
#include <stdexcept>

#include "support/Tools.h"

namespace {
std::locale EnvironmentLocale() {
    try {
        return std::locale("");
    } catch (const std::runtime_error&) {
        return std::locale::classic();
    }
}
}  // namespace

std::string FormatWithCommas(std::uint64_t value) {
    std::ostringstream text;
    text.imbue(EnvironmentLocale());
    text << std::fixed << value;
    return text.str();
}

std::string GetTimeStamp() { return AppCore::Tools::GetStampYMDHMS(); }
