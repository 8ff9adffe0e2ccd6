#pragma once

#include <cstdint>
#include <string>

namespace SLib {

// "1.5 GiB", "12.0 MiB", "0.5 KiB": `bytes` in the largest binary unit it
// reaches, up to GiB, with one decimal, so that no amount reads as 0.0.
std::string MemoryText(std::uint64_t bytes);

}  // namespace SLib
