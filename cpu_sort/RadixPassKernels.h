#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "cpu_sort/SortKey.h"

// The loops every pass of the index radix sort is made of: counting digits
// and moving entries to their digits' slots. They read the keys through the
// indices, so after the first pass nearly every key read misses the caches;
// the loops prefetch the key they will read a little later.
namespace EvalCore::Detail {

template <class Value>
struct DigitLayout {
    static constexpr unsigned bits = sizeof(Value) == 4 ? 8 : 16;
    static constexpr std::size_t radix = std::size_t{1} << bits;  // counters per histogram
    static constexpr unsigned passes = 4;

    static std::uint32_t Digit(Value value, unsigned shift) {
        return static_cast<std::uint32_t>(SortKey(value) >> shift) & (radix - 1);
    }
};

// How many entries ahead a loop prefetches the key it will read: enough to
// keep a core's outstanding misses busy, few enough that the lines are still
// cached when the loop gets there.
inline constexpr std::size_t kPrefetchAhead = 128;

// Key prefetches fetch into L2, not L1 (locality hint 2, prefetcht1). A
// prefetch into L1 holds one of the core's few L1 miss buffers until its line
// arrives, which caps the misses in flight at about a dozen; L2 tracks many
// more, and an L2 hit costs the loop little. With 10M INT keys this took a
// single-threaded sort from about 290 ms to 170 ms here.
template <class Value>
inline void PrefetchKey(const Value* key) {
    __builtin_prefetch(key, 0, 2);
}

// The entries 0, 1, 2, ... that initIndices asks for, as a source read
// without a memory access. A pass that knows its entries are 0 ... n - 1
// reads the keys in memory order; and the first pass need not store them in
// `indices`, since the second pass writes every entry there.
struct IdentityEntries {
    std::uint32_t operator[](std::size_t p) const { return static_cast<std::uint32_t>(p); }
};

// Calls work(IdentityEntries{}) when `identity`, else work(source).
template <class Work>
void WithEntries(bool identity, const std::uint32_t* source, Work&& work) {
    if (identity)
        work(IdentityEntries{});
    else
        work(source);
}

// Calls visit(values[source[p]]) for p = first ... last - 1 in order. Through
// an index array it prefetches the keys ahead; IdentityEntries read memory in
// order, which the hardware prefetches by itself.
template <class Value, class Entries, class Visit>
void ForEachKey(const Value* values, const Entries& source, std::size_t first, std::size_t last, Visit visit) {
    std::size_t p = first;
    if constexpr (!std::is_same_v<Entries, IdentityEntries>) {
        for (; p + kPrefetchAhead < last; ++p) {
            PrefetchKey(values + source[p + kPrefetchAhead]);
            visit(values[source[p]]);
        }
    }
    for (; p < last; ++p) visit(values[source[p]]);
}

// Adds the digit counts of the keys values[source[p]], p in [first, last). A
// digit's histogram does not depend on the order of the entries, so when they
// are known to be 0 ... n - 1, IdentityEntries count them in memory order.
template <class Value, class Entries>
void CountDigits(const Value* values, const Entries& source, std::size_t first, std::size_t last, unsigned shift,
                 std::uint32_t* counters) {
    ForEachKey(values, source, first, last, [&](Value value) { ++counters[DigitLayout<Value>::Digit(value, shift)]; });
}

// The histograms of every digit of the keys values[source[p]], p in [first,
// last), in one sweep: counters[pass * radix + d] counts digit d of pass
// `pass`. No digit's histogram depends on the order of the entries, so this
// replaces the passes' own counting sweeps, which after the first pass would
// read every key through the permuted indices. `counters` holds passes x radix
// zeros.
template <class Value, class Entries>
void CountEveryDigit(const Value* values, const Entries& source, std::size_t first, std::size_t last,
                     std::uint32_t* counters) {
    using Layout = DigitLayout<Value>;
    static_assert(Layout::passes == 4);
    constexpr unsigned bits = Layout::bits;
    constexpr std::size_t radix = Layout::radix;
    std::uint32_t* const c0 = counters;
    std::uint32_t* const c1 = counters + radix;
    std::uint32_t* const c2 = counters + 2 * radix;
    std::uint32_t* const c3 = counters + 3 * radix;
    ForEachKey(values, source, first, last, [&](Value value) {
        const auto key = SortKey(value);
        ++c0[key & (radix - 1)];
        ++c1[(key >> bits) & (radix - 1)];
        ++c2[(key >> 2 * bits) & (radix - 1)];
        ++c3[(key >> 3 * bits) & (radix - 1)];
    });
}

// Moves the entries source[first, last) to `destination`, walking backwards:
// the entry e with digit d goes to --slotEnd[d], so each digit's slots fill
// from the top and the pass is stable. Then placed(values[e], slot) is called.
// `source` is an index array or IdentityEntries.
template <class Value, class Entries, class Placed>
void ScatterBackwards(const Value* values, const Entries& source, std::size_t first, std::size_t last, unsigned shift,
                      std::uint32_t* slotEnd, std::uint32_t* destination, Placed placed) {
    using Layout = DigitLayout<Value>;
    const auto move = [&](std::size_t p) {
        const std::uint32_t entry = source[p];
        const Value value = values[entry];
        const std::uint32_t slot = --slotEnd[Layout::Digit(value, shift)];
        destination[slot] = entry;
        placed(value, slot);
    };
    std::size_t p = last;
    for (; p >= first + kPrefetchAhead + 1; --p) {
        PrefetchKey(values + source[p - 1 - kPrefetchAhead]);
        move(p - 1);
    }
    for (; p > first; --p) move(p - 1);
}

}  // namespace EvalCore::Detail
