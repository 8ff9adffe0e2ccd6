#pragma once

#include <cstdint>
#include <type_traits>

#include "cpu_sort/SortKey.h"
#include "driver/measuring/TestData.h"
#include "support/CharBuffer.h"

// The packed (sort key, index) pairs most peers sort (PeerSorters.h), for
// their translation units.

// key << 32 | index for 4-byte keys, key << 64 | index for 8-byte keys.
template <typename Element>
using PairOf = std::conditional_t<sizeof(Element) == 4, std::uint64_t, unsigned __int128>;

// The pair's key half.
template <typename Pair>
constexpr std::uint64_t KeyOf(Pair pair) {
    return static_cast<std::uint64_t>(pair >> (sizeof(Pair) * 4));
}

// Orders pairs by key alone: what a stable sort of pairs made in index order
// needs. For 64-bit pairs the whole word compares as cheaply and gives the same order.
template <typename Pair>
struct KeyLess {
    bool operator()(Pair a, Pair b) const {
        if constexpr (sizeof(Pair) == 8) {
            return a < b;
        } else {
            return KeyOf(a) < KeyOf(b);
        }
    }
};

// `buffer` sized to exactly `count` pairs of values[0 .. count), in index
// order. Throws std::bad_alloc (buffer unchanged) when it cannot be sized.
template <typename Element>
PairOf<Element>* PackPairs(const Element* values, std::uint64_t count, AppCore::CharBuffer& buffer) {
    using Pair = PairOf<Element>;
    Pair* pairs = ResizeForElements<Pair>(count, buffer);
    for (std::uint64_t i = 0; i < count; ++i) pairs[i] = Pair{EvalCore::SortKey(values[i])} << (sizeof(Pair) * 4) | i;
    return pairs;
}

// The index halves of pairs[0 .. count), in order.
template <typename Pair>
void UnpackPairs(const Pair* pairs, std::uint64_t count, std::uint32_t* indices) {
    for (std::uint64_t i = 0; i < count; ++i) indices[i] = static_cast<std::uint32_t>(pairs[i]);
}

// Packs, sorts the pairs with sortPairs(first, last), unpacks.
template <typename Element, typename SortPairs>
void SortAsPairs(const Element* values, std::uint64_t count, std::uint32_t* indices, AppCore::CharBuffer& buffer,
                 SortPairs sortPairs) {
    PairOf<Element>* pairs = PackPairs(values, count, buffer);
    sortPairs(pairs, pairs + count);
    UnpackPairs(pairs, count, indices);
}
