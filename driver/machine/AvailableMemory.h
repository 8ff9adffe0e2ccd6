#pragma once

#include <cstdint>

// Bytes of memory the machine can still give this process without swapping:
// MemAvailable of /proc/meminfo. UINT64_MAX when that cannot be read, so an
// unknown figure never blocks a run.
//
// Why a check before allocating: Linux over-commits, so a data set too large for
// the machine does not fail in malloc but gets the process killed later, losing
// the run; asking first turns that into one clear line.
std::uint64_t AvailableMemoryBytes();
