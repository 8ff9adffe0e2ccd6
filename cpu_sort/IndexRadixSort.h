#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "cpu_sort/RadixPassKernels.h"

// The least-significant-digit index sort shared by RadixSort32 and
// RadixSort64: four passes of one digit each, 8-bit digits for 32-bit keys and
// 16-bit digits for 64-bit keys. Only 4-byte indices move; every pass reads the
// keys through them and transforms them on the fly.
//
// Where the time goes: after the first pass the indices follow the digits
// sorted so far, not memory order, so once the keys outgrow the caches every
// key read through them is a cache (and TLB) miss, and a pass costs about as
// much as a random gather of n keys. The kernels therefore prefetch the key a
// loop will read a little later, and avoid reading keys through the indices
// at all where the counts allow it (see CountEveryDigit, IdentityEntries,
// DigitPairCounts.h and the next-digit tables of MultiThreadedRadixSort.h).
namespace EvalCore::Detail {

// Pass `pass` of the single-threaded sort: the digit's histogram, taken from
// `passCounts` (passes x radix counts) into `histogram` as slot ends, then the
// entries of `source` (0 ... n - 1 when `identity`) moved to `destination`.
template <class Value>
void SingleThreadedPass(const Value* values, std::size_t n, unsigned pass, bool identity, const std::uint32_t* source,
                        std::uint32_t* destination, const std::uint32_t* passCounts, std::uint32_t* histogram) {
    using Layout = DigitLayout<Value>;
    std::copy_n(passCounts + pass * Layout::radix, Layout::radix, histogram);
    for (std::size_t d = 1; d < Layout::radix; ++d) histogram[d] += histogram[d - 1];
    WithEntries(identity, source, [&](const auto& entries) {
        ScatterBackwards(values, entries, 0, n, pass * Layout::bits, histogram, destination,
                         [](Value, std::uint32_t) {});
    });
}

// Single-threaded sort of indices[0, n) by the keys of values[indices[i]].
// `scratch` holds n entries; `histogram` holds DigitLayout::radix counters;
// `passCounts` holds passes x radix counters, any contents. Stable: equal keys
// keep their starting order, which with initIndices is ascending index order.
//
// Every pass's digits are counted in one sweep before the first pass, in
// memory order where the entries are 0 ... n - 1: the least traffic the
// design allows, where counting each pass by itself would read every key
// through the permuted indices once more.
template <class Value>
void SortSingleThreaded(const Value* values, std::size_t n, std::uint32_t* indices, bool initIndices,
                        std::uint32_t* scratch, std::uint32_t* histogram, std::uint32_t* passCounts) {
    using Layout = DigitLayout<Value>;
    std::fill_n(passCounts, Layout::passes * Layout::radix, 0u);
    WithEntries(initIndices, indices, [&](const auto& entries) { CountEveryDigit(values, entries, 0, n, passCounts); });

    for (unsigned pass = 0; pass < Layout::passes; ++pass) {
        // Passes alternate so that the fourth one ends in `indices`.
        const std::uint32_t* source = pass % 2 == 0 ? indices : scratch;
        std::uint32_t* destination = pass % 2 == 0 ? scratch : indices;
        SingleThreadedPass(values, n, pass, pass == 0 && initIndices, source, destination, passCounts, histogram);
    }
}

}  // namespace EvalCore::Detail
