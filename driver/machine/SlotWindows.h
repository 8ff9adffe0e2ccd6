#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "driver/machine/AccessPatterns.h"

// A slot layout of the limits probe cut into windows that its timings take in
// turn, so that every timing writes slots the timings just before it did not,
// as a radix pass writes its destination once. A timing takes one window per
// CPU, about `timingAccesses` entries together (one thread walks them all,
// each CPU of a team takes one); when the layout holds no more than that, a
// timing walks every entry as often as it takes to reach that many.
class SlotWindows {
public:
    SlotWindows(std::uint64_t entries, unsigned cpus, std::uint64_t timingAccesses)
        : entries(entries),
          cpus(cpus),
          count(std::max<std::uint64_t>(cpus, (entries * cpus + timingAccesses - 1) / timingAccesses)),
          passes(count == cpus ? (timingAccesses + entries - 1) / entries : 1) {}

    // Lays out `slots` (entries of them) for `fronts` write fronts, each
    // window a chunk of the layout, and starts the turns again.
    void LayOut(std::uint32_t* slots, std::size_t fronts, std::uint64_t seed) {
        AccessPatterns::LayOutFrontSlots(slots, entries, fronts, static_cast<unsigned>(count), seed);
        next = 0;
    }

    // The first window of the next timing.
    std::uint64_t Take() {
        const std::uint64_t first = next;
        next = (next + cpus) % count;
        return first;
    }

    // Entries of one timing; windows differ by one entry at most, so the
    // first ones stand for all.
    double Work() const {
        double total = 0;
        for (unsigned w = 0; w < cpus; ++w) total += static_cast<double>(Size(w));
        return total * static_cast<double>(passes);
    }

    // Window numbers count on past the last window and wrap.
    std::uint64_t Start(std::uint64_t window) const {
        return AccessPatterns::ChunkStart(entries, static_cast<unsigned>(count), static_cast<unsigned>(window % count));
    }
    std::uint64_t Size(std::uint64_t window) const {
        const auto w = static_cast<unsigned>(window % count);
        const auto chunks = static_cast<unsigned>(count);
        return AccessPatterns::ChunkStart(entries, chunks, w + 1) - AccessPatterns::ChunkStart(entries, chunks, w);
    }
    std::uint64_t Passes() const { return passes; }
    unsigned Cpus() const { return cpus; }

private:
    std::uint64_t entries;
    unsigned cpus;
    std::uint64_t count;   // windows, at least one per CPU
    std::uint64_t passes;  // walks of a timing's windows
    std::uint64_t next = 0;
};
