// The peers that sort on one thread (PeerSorters.h).
#include <algorithm>
#include <functional>

#include <boost/sort/pdqsort/pdqsort.hpp>
#include <boost/sort/spinsort/spinsort.hpp>
#include <boost/sort/spreadsort/integer_sort.hpp>

#include "driver/sorters/PeerPairs.h"
#include "driver/sorters/PeerScratchState.h"
#include "driver/sorters/PeerSorters.h"
#include "support/DataTypes.h"

namespace {

// integer_sort leaves a bin whose elements share one key as it found them:
// for pairs wider than the key it splits on, those runs still need index order.
void PutEqualKeysInIndexOrder(unsigned __int128* pairs, std::uint64_t count) {
    for (std::uint64_t start = 0; start < count;) {
        std::uint64_t end = start + 1;
        while (end < count && KeyOf(pairs[end]) == KeyOf(pairs[start])) ++end;
        if (end - start > 1) boost::sort::pdqsort_branchless(pairs + start, pairs + end, std::less<>());
        start = end;
    }
}

}  // namespace

template <typename Element>
void PeerVqsort(const Element* values, std::uint64_t count, std::uint32_t* indices, PeerScratch& scratch, unsigned) {
    PeerScratch::State& state = scratch.Inside();
    // Highway's own 128-bit type, {lo, hi}: the index low, the key high, as in PairOf.
    if constexpr (sizeof(Element) == 4) {
        SortAsPairs(values, count, indices, state.pairs, [&state](std::uint64_t* first, std::uint64_t* last) {
            state.Vqsort()(first, static_cast<std::size_t>(last - first), hwy::SortAscending());
        });
    } else {
        hwy::uint128_t* pairs = ResizeForElements<hwy::uint128_t>(count, state.pairs);
        for (std::uint64_t i = 0; i < count; ++i) pairs[i] = {i, EvalCore::SortKey(values[i])};
        state.Vqsort()(pairs, count, hwy::SortAscending());
        for (std::uint64_t i = 0; i < count; ++i) indices[i] = static_cast<std::uint32_t>(pairs[i].lo);
    }
}

template <typename Element>
void PeerStdSort(const Element* values, std::uint64_t count, std::uint32_t* indices, PeerScratch& scratch, unsigned) {
    SortAsPairs(values, count, indices, scratch.Inside().pairs,
                [](auto* first, auto* last) { std::sort(first, last); });
}

template <typename Element>
void PeerPdqsort(const Element* values, std::uint64_t count, std::uint32_t* indices, PeerScratch& scratch, unsigned) {
    SortAsPairs(values, count, indices, scratch.Inside().pairs,
                [](auto* first, auto* last) { boost::sort::pdqsort_branchless(first, last, std::less<>()); });
}

template <typename Element>
void PeerSpreadsort(const Element* values, std::uint64_t count, std::uint32_t* indices, PeerScratch& scratch,
                    unsigned) {
    using Pair = PairOf<Element>;
    SortAsPairs(values, count, indices, scratch.Inside().pairs, [count](Pair* first, Pair* last) {
        if constexpr (sizeof(Pair) == 8) {
            boost::sort::spreadsort::integer_sort(first, last);
        } else {
            const auto keyShift = [](Pair pair, unsigned shift) { return KeyOf(pair) >> shift; };
            boost::sort::spreadsort::integer_sort(first, last, keyShift, std::less<Pair>());
            PutEqualKeysInIndexOrder(first, count);
        }
    });
}

template <typename Element>
void PeerSpinsort(const Element* values, std::uint64_t count, std::uint32_t* indices, PeerScratch& scratch, unsigned) {
    using Pair = PairOf<Element>;
    SortAsPairs(values, count, indices, scratch.Inside().pairs,
                [](Pair* first, Pair* last) { boost::sort::spinsort(first, last, KeyLess<Pair>()); });
}

#define INSTANTIATE(Element)                                                                             \
    template void PeerVqsort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);     \
    template void PeerStdSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);    \
    template void PeerPdqsort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);    \
    template void PeerSpreadsort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned); \
    template void PeerSpinsort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);
SORTBENCH_FOR_EACH_ELEMENT(INSTANTIATE)
#undef INSTANTIATE
