#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "driver/machine/CpuLimits.h"
#include "strings/MemoryText.h"

// Measures the figures of CpuLimits.h at the start of a run, within a memory
// budget, and says why when it cannot. Never prints. How each timing is made
// is ProbeTimings.h's.

struct LimitsProbeOptions {
    // The sizes, bytes of an index array, at least 4 KiB and below 4 GiB
    // (32-bit slots); any order, repeats ignored. The memory the probe takes
    // grows with the largest (LimitsProbeBytes).
    std::vector<std::uint64_t> arrayBytes{1 * SLib::kMiB, 4 * SLib::kMiB, 16 * SLib::kMiB, 64 * SLib::kMiB};
    unsigned repeats = 3;  // timings per figure, the best kept; 0 is taken as 1
    unsigned cpus = 0;     // threads of the all-CPU figures; 0: the online CPUs
    // The memory the probe may take; unset: AvailableMemoryBytes().
    std::optional<std::uint64_t> availableBytes;
    // A data set's probe also times the key-carrying sort's own accesses
    // (PairLimits), for runs with its columns.
    bool pairFigures = false;
};

// Bytes ProbeDataSetLimits allocates for n records: LimitsProbeBytes at
// F = 4n, 16n and at most 4 MiB more, as much as a data set of 8-byte keys.
std::uint64_t DataSetProbeBytes(std::uint64_t records);

// Measures one data set's figures with the repeats, CPUs and memory budget of
// `options` (its sizes are not used). Skipped, with the reason, when 4n lies
// outside the sizes the probe takes (4 KiB to 4 GiB) or as ProbeCpuLimits
// skips. Allocates its own buffers and frees them before it returns; runs
// outside every timed section. Never prints.
DataSetLimits ProbeDataSetLimits(std::uint64_t records, const LimitsProbeOptions& options = {});

// Bytes the probe allocates with these options, for the largest size F: 2F
// of keys, F of destination, F of slots and an index array of at most 4 MiB.
std::uint64_t LimitsProbeBytes(const LimitsProbeOptions& options);

// Measures the figures. When the budget cannot hold LimitsProbeBytes, the
// sizes are invalid, or the buffers or threads cannot be had, returns a record
// with `skipped` set and allocates nothing more. Never throws for those.
CpuLimits ProbeCpuLimits(const LimitsProbeOptions& options = {});
