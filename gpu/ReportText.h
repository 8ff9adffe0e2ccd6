#pragma once

#include <cstdint>
#include <string>

// Texts of the GPU start-up report.
namespace QVEvalCore {

// "major.minor.patch" of a Vulkan version word (major = v >> 22,
// minor = (v >> 12) & 0x3FF, patch = v & 0xFFF).
std::string VersionText(uint32_t version);

}  // namespace QVEvalCore
