#pragma once

#include <cstdint>
#include <string>

namespace SLib {

// The binary units every byte count of the program is told in.
inline constexpr std::uint64_t kKiB = 1024;
inline constexpr std::uint64_t kMiB = 1024 * kKiB;

// "1.5 GiB", "12.0 MiB", "0.5 KiB": `bytes` in the largest binary unit it
// reaches, up to GiB, with one decimal, so that no amount reads as 0.0.
std::string MemoryText(std::uint64_t bytes);

// "64 MiB", "1.5 MiB", "64 KiB", "100 bytes": whole MiB or KiB where `bytes`
// is a multiple of one, otherwise three significant digits of MiB, or bytes:
// an array's size as the limits lines give it.
std::string SizeText(std::uint64_t bytes);

// How a byte count is cut to whole MiB: up for what a step needs, so that it
// never reads as less; down for what is there, so that it never reads as more.
enum class Rounding { Down, Up };
// "12 MiB": whole MiB, rounded as asked.
std::string WholeMiBText(std::uint64_t bytes, Rounding rounding);

}  // namespace SLib
