#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "cpu_sort/RadixPassKernels.h"
#include "cpu_sort/pairs/PairScatterPhase.h"

// The memory accesses the limits probe times, each the bare form of one the
// index radix sort or the key-carrying sort makes: no digits, no histograms,
// only the loads and stores.
namespace AccessPatterns {

// `count` positions drawn uniformly from [0, range), a pure function of the
// seed. range must lie in 1 ... 2^32.
void FillRandomPositions(std::uint32_t* positions, std::size_t count, std::uint64_t range, std::uint64_t seed);

// The slots a least-significant-digit pass over `count` entries gives them
// when each entry's digit is random among `fronts` (2 ... 2^16) and the entries
// are split into `chunks` even chunks of a worker each: every digit owns one
// run of slots, within it each chunk its own part in chunk order, and each
// part fills from its top, as ScatterBackwards fills it. Walked backwards, a
// chunk's stores therefore move down `fronts` write fronts at once, as a radix
// pass does. A pure function of the seed; the slots are a permutation of
// 0 ... count - 1. count must lie below 2^32.
void LayOutFrontSlots(std::uint32_t* slots, std::size_t count, std::size_t fronts, unsigned chunks, std::uint64_t seed);

// First position of chunk `chunk` of `chunks` even chunks of count entries;
// chunk `chunks` gives count.
constexpr std::size_t ChunkStart(std::size_t count, unsigned chunks, unsigned chunk) {
    return static_cast<std::size_t>(static_cast<unsigned __int128>(count) * chunk / chunks);
}

// Loads keys[positions[p]] for p in [first, last) with the sort's own loop,
// which prefetches the key it will read kPrefetchAhead entries later; returns
// a sum of the keys so the loads cannot be left out.
template <class Key>
std::uint64_t LoadThrough(const Key* keys, const std::uint32_t* positions, std::size_t first, std::size_t last) {
    std::uint64_t sum = 0;
    EvalCore::Detail::ForEachKey(keys, positions, first, last, [&](Key key) { sum += key; });
    return sum;
}

// destination[slots[i]] = i for i from count - 1 down to 0, the order in
// which ScatterBackwards stores.
inline void StoreThrough(std::uint32_t* destination, const std::uint32_t* slots, std::size_t count) {
    for (std::size_t i = count; i > 0; --i) destination[slots[i - 1]] = static_cast<std::uint32_t>(i - 1);
}

// A radix pass's moves without its digits: for i from count - 1 down to 0,
// loads the key of entry positions[i] and stores the entry at
// destination[slots[i]], prefetching keys as ScatterBackwards does. Returns a
// sum of the keys so the loads cannot be left out.
template <class Key>
std::uint64_t MoveThrough(const Key* keys, const std::uint32_t* positions, const std::uint32_t* slots,
                          std::uint32_t* destination, std::size_t count) {
    using EvalCore::Detail::kPrefetchAhead;
    std::uint64_t sum = 0;
    const auto move = [&](std::size_t i) {
        const std::uint32_t entry = positions[i];
        sum += static_cast<std::uint64_t>(keys[entry]);
        destination[slots[i]] = entry;
    };
    std::size_t i = count;
    for (; i >= kPrefetchAhead + 1; --i) {
        EvalCore::Detail::PrefetchKey(keys + positions[i - 1 - kPrefetchAhead]);
        move(i - 1);
    }
    for (; i > 0; --i) move(i - 1);
    return sum;
}

// The write fronts of ScatterThroughLines: one 64-byte line each, how many
// pairs it holds, and the lines of the destination it has streamed out.
struct LineFronts {
    std::uint64_t* lines;    // 8 << frontBits words, 64-byte aligned
    std::uint8_t* filled;    // 1 << frontBits counts below 8
    std::uint64_t* written;  // 1 << frontBits lines
    unsigned frontBits;
};

// The key-carrying sort's scatter (PairScatterPhase.h) without its digits:
// the pair keys[i] << 32 | i of each i in [0, count) goes into the line of
// front hash(i), and a full line is streamed out whole to its front's next
// line of destination[0, destinationLines), front f starting at f times an
// even share and wrapping. A line left partly full stays for the next call.
inline void ScatterThroughLines(const std::uint32_t* keys, std::size_t count, std::uint64_t* destination,
                                std::uint64_t destinationLines, const LineFronts& fronts) {
    constexpr std::size_t perLine = EvalCore::PairDetail::kLineBytes / sizeof(std::uint64_t);
    const std::uint64_t spacing = std::max<std::uint64_t>(1, destinationLines >> fronts.frontBits);
    for (std::size_t i = 0; i < count; ++i) {
        // Fibonacci hashing: consecutive positions land on fronts far apart.
        const std::uint32_t f = static_cast<std::uint32_t>(i * 0x9E3779B1u) >> (32 - fronts.frontBits);
        std::uint64_t* line = fronts.lines + std::size_t{f} * perLine;
        std::uint8_t fill = fronts.filled[f];
        line[fill] = std::uint64_t{keys[i]} << 32 | static_cast<std::uint32_t>(i);
        if (++fill == perLine) {
            const std::uint64_t at = (f * spacing + fronts.written[f]++) % destinationLines;
            EvalCore::PairDetail::StreamLine(destination + at * perLine, line);
            fill = 0;
        }
        fronts.filled[f] = fill;
    }
    _mm_sfence();
}

// The plan's counting sweep without its digits: keys[0, count) read in order,
// each counting into one of the 1 << digitBits counters by a hash of its
// position, alternating between two tables as the sort's does; returns a sum
// of the keys so the loads cannot be left out.
inline std::uint64_t CountThroughDigits(const std::uint32_t* keys, std::size_t count, std::uint32_t* counters,
                                        std::uint32_t* spare, unsigned digitBits) {
    std::uint64_t sum = 0;
    const auto digit = [digitBits](std::size_t i) {
        return static_cast<std::uint32_t>(i * 0x9E3779B1u) >> (32 - digitBits);
    };
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        sum += keys[i] + keys[i + 1];
        ++counters[digit(i)];
        ++spare[digit(i + 1)];
    }
    if (i < count) sum += keys[i];
    return sum;
}

// A leaf's counting sweep: pairs[0, count) counted by the two 11-bit digits
// above bit 32, into counters[0, 2 << 11).
inline void CountLeafDigits(const std::uint64_t* pairs, std::size_t count, std::uint32_t* counters) {
    constexpr unsigned bits = EvalCore::PairDetail::kLeafDigitBits;
    constexpr std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
    for (std::size_t j = 0; j < count; ++j) {
        const std::uint64_t key = pairs[j] >> 32;
        ++counters[key & mask];
        ++counters[(std::size_t{1} << bits) + ((key >> bits) & mask)];
    }
}

// A leaf's pass: source[0, count) moved into destination by the 11-bit digit
// above bit 32, `next` holding each digit's first position.
inline void MoveLeafPairs(const std::uint64_t* source, std::size_t count, std::uint64_t* destination,
                          std::uint32_t* next) {
    constexpr std::uint64_t mask = (std::uint64_t{1} << EvalCore::PairDetail::kLeafDigitBits) - 1;
    for (std::size_t j = 0; j < count; ++j) {
        const std::uint64_t pair = source[j];
        destination[next[(pair >> 32) & mask]++] = pair;
    }
}

}  // namespace AccessPatterns
