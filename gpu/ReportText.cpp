#include "gpu/ReportText.h"

#include <locale>
#include <sstream>
#include <stdexcept>

namespace QVEvalCore {

std::string VersionText(uint32_t version)
{
    return std::to_string(version >> 22) + "." + std::to_string((version >> 12) & 0x3FF) + "." +
           std::to_string(version & 0xFFF);
}

std::string LocaleNumberText(uint64_t value)
{
    std::ostringstream text;
    try {
        text.imbue(std::locale(""));
    } catch (const std::runtime_error&) {
        // LANG or LC_* names a locale that is not installed; the report must
        // still print, so the numbers go ungrouped.
        text.imbue(std::locale::classic());
    }
    text << value;
    return text.str();
}

}  // namespace QVEvalCore
