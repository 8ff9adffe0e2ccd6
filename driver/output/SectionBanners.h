#pragma once

#include <cstddef>
#include <string>

// The banners that open each section of the console report and of
// run_conditions.txt. Readers of stored logs find sections by them, so they stay
// byte for byte as they have always been: titles between runs of 29 dashes, and
// LIMITS, the newest, between runs of 30.
inline constexpr std::size_t kSectionDashes = 29;
inline constexpr std::size_t kLimitsSectionDashes = 30;

inline std::string SectionBanner(const std::string& title, std::size_t dashes = kSectionDashes) {
    const std::string run(dashes, '-');
    return run + " " + title + " " + run;
}
