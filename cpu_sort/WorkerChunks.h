#pragma once

#include <cstdint>
#include <vector>

#include "support/Tools.h"

// How the multi-threaded sort (MultiThreadedRadixSort.h) cuts its index
// arrays into one chunk per worker, and finds the chunk of a position.
namespace EvalCore::Detail {

// The chunk bounds of T workers are T + 1 positions counted in 32 bits.
inline constexpr unsigned long kMaxWorkers = 4'294'967'294ul;

// Chunk t of n positions over T workers is [bounds[t], bounds[t + 1]); the
// first n mod T chunks are one position longer.
inline std::vector<unsigned long> SplitEvenly(unsigned long n, unsigned long parts) {
    return AppCore::Tools::SplitRange(0, n, static_cast<unsigned int>(parts));
}

// The chunk a position of an index array belongs to, for SplitEvenly bounds
// with chunks of at least two positions (n >= 2 x parts). Divides by
// multiplying with a 64-bit reciprocal (Lemire, Kaser and Kurz, "Faster
// remainder by direct computation", 2019), exact for every 32-bit position:
// the scatter asks this for every entry it places, and a hardware division
// would cost more than the rest of the bookkeeping.
class ChunkOf {
public:
    ChunkOf(unsigned long n, unsigned long parts)
        : longChunks(static_cast<std::uint32_t>(n % parts)),
          longEnd((n / parts + 1) * (n % parts)),
          longReciprocal(Reciprocal(n / parts + 1)),
          shortReciprocal(Reciprocal(n / parts)) {}

    std::uint32_t operator()(std::uint32_t position) const {
        return position < longEnd
                   ? Divide(position, longReciprocal)
                   : longChunks + Divide(static_cast<std::uint32_t>(position - longEnd), shortReciprocal);
    }

private:
    // Chunks shorter than two positions get no reciprocal; no position of a
    // valid input divides by them.
    static std::uint64_t Reciprocal(std::uint64_t divisor) { return divisor < 2 ? 0 : ~std::uint64_t{0} / divisor + 1; }
    static std::uint32_t Divide(std::uint32_t dividend, std::uint64_t reciprocal) {
        return static_cast<std::uint32_t>((static_cast<unsigned __int128>(reciprocal) * dividend) >> 64);
    }

    std::uint32_t longChunks;
    std::uint64_t longEnd;
    std::uint64_t longReciprocal, shortReciprocal;
};

}  // namespace EvalCore::Detail
