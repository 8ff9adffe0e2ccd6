#include "driver/machine/AccessPatterns.h"

#include <vector>

namespace AccessPatterns {

namespace {

// splitmix64's finaliser: consecutive inputs give unrelated 64-bit words.
std::uint64_t Mix(std::uint64_t x) {
    x += 0x9e37'79b9'7f4a'7c15ull;
    x = (x ^ (x >> 30)) * 0xbf58'476d'1ce4'e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d0'49bb'1331'11ebull;
    return x ^ (x >> 31);
}

// A uniform pick from [0, range) by the high half of a 64 x 64-bit product:
// no division in loops of millions.
std::uint64_t Below(std::uint64_t word, std::uint64_t range) {
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(word) * range) >> 64);
}

}  // namespace

void FillRandomPositions(std::uint32_t* positions, std::size_t count, std::uint64_t range, std::uint64_t seed) {
    for (std::size_t p = 0; p < count; ++p) positions[p] = static_cast<std::uint32_t>(Below(Mix(seed + p), range));
}

void LayOutFrontSlots(std::uint32_t* slots, std::size_t count, std::size_t fronts, unsigned chunks,
                      std::uint64_t seed) {
    if (chunks == 0) chunks = 1;
    // counts[c * fronts + f]: entries of chunk c with digit f; then, running
    // over the digits and within a digit over the chunks, the end of each
    // chunk's part of its digit's run.
    std::vector<std::uint32_t> ends(static_cast<std::size_t>(chunks) * fronts, 0);
    for (unsigned c = 0; c < chunks; ++c) {
        std::uint32_t* counts = ends.data() + static_cast<std::size_t>(c) * fronts;
        for (std::size_t p = ChunkStart(count, chunks, c); p < ChunkStart(count, chunks, c + 1); ++p) {
            const auto digit = static_cast<std::uint32_t>(Below(Mix(seed + p), fronts));
            slots[p] = digit;
            ++counts[digit];
        }
    }
    std::uint64_t end = 0;
    for (std::size_t f = 0; f < fronts; ++f)
        for (unsigned c = 0; c < chunks; ++c) {
            std::uint32_t& part = ends[static_cast<std::size_t>(c) * fronts + f];
            end += part;
            part = static_cast<std::uint32_t>(end);
        }
    for (unsigned c = 0; c < chunks; ++c) {
        std::uint32_t* partEnds = ends.data() + static_cast<std::size_t>(c) * fronts;
        for (std::size_t p = ChunkStart(count, chunks, c + 1); p > ChunkStart(count, chunks, c); --p)
            slots[p - 1] = --partEnds[slots[p - 1]];
    }
}

}  // namespace AccessPatterns
