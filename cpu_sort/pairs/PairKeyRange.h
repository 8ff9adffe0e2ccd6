#pragma once

#include <cstddef>
#include <cstdint>

#include "cpu_sort/pairs/PairFormat.h"

// The first sweep of the key-carrying sort: the smallest and largest sort key.
// Subtracting the smallest makes every pair's key start at 0, so only the bits
// that vary across the array are counted and sorted, and 8-byte keys whose
// range fits 32 bits travel as 8-byte pairs. All keys equal ends the sort here.
namespace EvalCore::PairDetail {

template <class Value>
struct KeyRange {
    using Key = decltype(SortKey(Value{}));
    Key lowest = static_cast<Key>(~Key{0});
    Key highest = 0;

    void Merge(const KeyRange& other) {
        if (other.lowest < lowest) lowest = other.lowest;
        if (other.highest > highest) highest = other.highest;
    }
};

// The range of the sort keys of values[first, last). Two independent
// accumulators halve the loop's dependency chain.
template <class Value>
KeyRange<Value> FindKeyRange(const Value* values, std::size_t first, std::size_t last) {
    KeyRange<Value> a, b;
    std::size_t i = first;
    for (; i + 2 <= last; i += 2) {
        const auto x = SortKey(values[i]), y = SortKey(values[i + 1]);
        a.lowest = x < a.lowest ? x : a.lowest;
        a.highest = x > a.highest ? x : a.highest;
        b.lowest = y < b.lowest ? y : b.lowest;
        b.highest = y > b.highest ? y : b.highest;
    }
    if (i < last) {
        const auto x = SortKey(values[i]);
        a.lowest = x < a.lowest ? x : a.lowest;
        a.highest = x > a.highest ? x : a.highest;
    }
    a.Merge(b);
    return a;
}

}  // namespace EvalCore::PairDetail
