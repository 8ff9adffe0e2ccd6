#pragma once

#include <cstdint>
#include <string>

// Texts of the GPU start-up report.
namespace QVEvalCore {

// "major.minor.patch" of a Vulkan version word (major = v >> 22,
// minor = (v >> 12) & 0x3FF, patch = v & 0xFFF).
std::string VersionText(uint32_t version);

// value in decimal, grouped as the user's default locale (std::locale(""))
// groups digits. An environment naming a locale the system lacks falls back to
// the classic locale instead of throwing.
std::string LocaleNumberText(uint64_t value);

}  // namespace QVEvalCore
