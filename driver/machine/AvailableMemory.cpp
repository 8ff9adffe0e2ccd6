#include "driver/machine/AvailableMemory.h"

#include <cstdio>
#include <limits>

std::uint64_t AvailableMemoryBytes() {
    std::FILE* meminfo = std::fopen("/proc/meminfo", "r");
    if (!meminfo) return std::numeric_limits<std::uint64_t>::max();
    std::uint64_t bytes = std::numeric_limits<std::uint64_t>::max();
    char line[256];
    unsigned long long kibibytes = 0;
    while (std::fgets(line, sizeof line, meminfo)) {
        if (std::sscanf(line, "MemAvailable: %llu kB", &kibibytes) == 1) {
            bytes = static_cast<std::uint64_t>(kibibytes) * 1024;
            break;
        }
    }
    std::fclose(meminfo);
    return bytes;
}
