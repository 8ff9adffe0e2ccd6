#pragma once

#include <cstdint>
#include <optional>
#include <string>

// How much of the process's anonymous memory (its heap and buffers) the kernel
// backs with transparent huge pages, as /proc/<pid>/smaps_rollup counts it. A
// sort over arrays of hundreds of megabytes on 4 KiB pages pays a TLB miss on
// nearly every random access, so a run says how much of its memory was on
// huge pages.
struct ProcessMemory {
    std::uint64_t anonymousBytes = 0;  // "Anonymous:"
    std::uint64_t hugePageBytes = 0;   // "AnonHugePages:", part of the above
};

// The figures in the smaps_rollup text at `path`; unset when the file cannot be
// read or lacks either line (kernels before 4.14 have no such file).
std::optional<ProcessMemory> ReadProcessMemory(const std::string& path = "/proc/self/smaps_rollup");
