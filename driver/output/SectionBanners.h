#pragma once

#include <string>

// The banners that open each section of the console report and of
// run_conditions.txt. Readers of stored logs find sections by them, so they stay
// byte for byte as they have always been: titles between runs of 29 dashes, and
// LIMITS, the newest, between runs of 30.
inline std::string SectionBanner(const std::string& title) {
    const std::string dashes(title == "LIMITS" ? 30 : 29, '-');
    return dashes + " " + title + " " + dashes;
}
