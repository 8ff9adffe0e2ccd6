#pragma once

#include <cstdint>
#include <string>

// A duration as a clock shows it: "0:07", "12:03", "1:02:03".
std::string DurationText(double seconds);

// Local time as the 12 digits "%y%m%d%H%M%S" that name a run directory.
std::string GetTimeStamp();
