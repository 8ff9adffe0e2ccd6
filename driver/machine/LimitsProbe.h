#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What this machine's memory allows for the accesses the index radix sort is
// made of, measured at the start of a run: the rates a sorter's time is held
// against (driver/measuring/MemoryFloor.h). Never prints.
//
// Five figures, each over arrays of several sizes, on one thread and on every
// online CPU at once (each thread its own even share of the work):
//   copy       memcpy of the array into another: bytes read plus bytes written per second.
//   loads 4/8  4- and 8-byte keys loaded at random positions of the array through an index
//              array read in order, by the sort's own loop (ForEachKey, which prefetches
//              ahead); keys per second. The positions are drawn uniformly, with repeats,
//              which the caches cannot tell from a shuffled permutation.
//   stores W   4-byte stores filling every slot of the array, each slot read in order from
//              a slot array laid out as a radix pass over random digits lays out its
//              destinations: W write fronts moving down at once, W = 256 and 65,536 for the
//              sort's 8- and 16-bit digits; stores per second. Fully random stores are no
//              bound for a radix pass: each moves a line in and out for 4 bytes, and over
//              40 MB one thread made 94 M/s of them here against 318 M/s into 256 fronts.
//
// Why several sizes: the rates fall as the arrays outgrow each cache (random
// 4-byte loads on one thread here: 780 M/s over 2 MiB, 310 M/s over 16 MiB,
// 121 M/s over 64 MiB), so bounding a data set takes figures measured over
// arrays no larger than its own. The largest size leaves the caches.
//
// Where the time goes (defaults, 2 CPUs, about 1.5 s): the stores, which must
// fill the whole array (a partial fill would find its lines still cached on
// the next repeat) and whose slot arrays are laid out anew for each size and W.
// Each figure is the best of `repeats` timings, the noise of a shared machine
// only ever adding time; the repeats of the figures of one size take turns.

inline constexpr std::uint64_t kLimitsMiB = std::uint64_t{1} << 20;

struct LimitsProbeOptions {
    // Bytes of the array each figure's accesses span, at least 4 KiB and
    // below 4 GiB (32-bit slots); any order, repeats ignored. The memory the
    // probe takes grows with the largest (LimitsProbeBytes).
    std::vector<std::uint64_t> arrayBytes{1 * kLimitsMiB, 4 * kLimitsMiB, 16 * kLimitsMiB, 64 * kLimitsMiB};
    unsigned repeats = 3;  // timings per figure, the best kept; 0 is taken as 1
    unsigned cpus = 0;     // threads of the all-CPU figures; 0: the online CPUs
    // The memory the probe may take; unset: AvailableMemoryBytes().
    std::optional<std::uint64_t> availableBytes;
};

// The figures of one thread count over one array size; per second, all
// positive once measured.
struct AccessRates {
    double copyBytes = 0;    // bytes read plus bytes written
    double loads4 = 0;       // 4-byte keys loaded through an index array
    double loads8 = 0;       // 8-byte keys likewise
    double stores256 = 0;    // 4-byte stores into 256 write fronts
    double stores65536 = 0;  // 4-byte stores into 65,536 write fronts
};

struct ArrayLimits {
    std::uint64_t arrayBytes = 0;
    AccessRates oneThread;
    AccessRates allCpus;  // `cpus` threads; on one CPU the one-thread figures again
};

struct CpuLimits {
    std::string skipped;              // why nothing was measured, one line; empty otherwise
    unsigned cpus = 0;                // threads of the all-CPU figures
    unsigned repeats = 0;             // timings per figure
    std::vector<ArrayLimits> arrays;  // ascending arrayBytes; empty when skipped

    bool Measured() const { return skipped.empty() && !arrays.empty(); }
};

// Bytes the probe allocates with these options: the array, a copy or store
// destination of its size, a slot array of its size, and two index arrays of
// at most 8 MiB each, all for the largest size.
std::uint64_t LimitsProbeBytes(const LimitsProbeOptions& options);

// Measures the figures. When the budget cannot hold LimitsProbeBytes, the
// sizes are invalid, or the buffers or threads cannot be had, returns a record
// with `skipped` set and allocates nothing more. Never throws for those.
CpuLimits ProbeCpuLimits(const LimitsProbeOptions& options = {});
