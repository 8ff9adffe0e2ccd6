#include "driver/output/ConsoleText.h"

#include <algorithm>
#include <cstdio>

#include "support/Tools.h"

std::string GetTimeStamp() { return AppCore::Tools::GetStampYMDHMS(); }

std::string DurationText(double seconds) {
    const auto whole = static_cast<long>(std::max(seconds, 0.0) + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}
