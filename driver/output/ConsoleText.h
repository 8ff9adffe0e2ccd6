#pragma once

#include <cstdint>
#include <string>

// `value` with the digit grouping of the environment's locale (LC_ALL, LC_NUMERIC,
// LANG): "1,000,000" under an English locale, "1000000" under C. A locale the
// environment names but the machine lacks falls back to the classic locale.
std::string FormatWithCommas(std::uint64_t value);

// A duration as a clock shows it: "0:07", "12:03", "1:02:03".
std::string DurationText(double seconds);

// Local time as the 12 digits "%y%m%d%H%M%S" that name a run directory.
std::string GetTimeStamp();
