#pragma once

#include <cstdint>

// Checks a sorter's index permutation without a second one to compare with.
//
// The stable ascending permutation of a data set is unique: it is the one whose
// (key, index) pairs strictly increase. A candidate with every entry below count
// whose pairs strictly increase holds count distinct indices, so it is that
// permutation; the first position where the pairs do not increase is where it
// differs from it. O(count) reads, no memory.

// The first position p whose entry is out of range or whose pair with the next
// entry does not increase under `less` (ties by index); count when there is none.
template <typename Element, typename Less>
std::uint64_t FirstOutOfOrder(const Element* values, const std::uint32_t* permutation, std::uint64_t count, Less less) {
    for (std::uint64_t p = 0; p < count; ++p) {
        const std::uint32_t a = permutation[p];
        if (a >= count) return p;
        if (p + 1 == count) break;
        const std::uint32_t b = permutation[p + 1];
        if (b >= count) return p + 1;
        const bool increases = less(values[a], values[b]) || (!less(values[b], values[a]) && a < b);
        if (!increases) return p;
    }
    return count;
}
