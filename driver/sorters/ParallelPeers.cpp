// The peers that sort on every online CPU (PeerSorters.h).
#include <algorithm>
#include <execution>
#include <functional>
#include <numeric>

#include <boost/sort/block_indirect_sort/block_indirect_sort.hpp>
#include <boost/sort/sample_sort/sample_sort.hpp>
#include <tbb/parallel_sort.h>

#include "driver/sorters/GnuParallelSort.h"
#include "driver/sorters/PeerPairs.h"
#include "driver/sorters/PeerScratchState.h"
#include "driver/sorters/PeerSorters.h"
#include "support/DataTypes.h"

template <typename Element>
void PeerTbbSort(const Element* values, std::uint64_t count, std::uint32_t* indices, PeerScratch& scratch,
                 unsigned threads) {
    PeerScratch::State& state = scratch.Inside();
    SortAsPairs(values, count, indices, state.pairs, [&state, threads](auto* first, auto* last) {
        state.Arena(threads).execute([=] { tbb::parallel_sort(first, last); });
    });
}

template <typename Element>
void PeerStdSortPar(const Element* values, std::uint64_t count, std::uint32_t* indices, PeerScratch& scratch,
                    unsigned threads) {
    PeerScratch::State& state = scratch.Inside();
    SortAsPairs(values, count, indices, state.pairs, [&state, threads](auto* first, auto* last) {
        state.Arena(threads).execute([=] { std::sort(std::execution::par_unseq, first, last); });
    });
}

template <typename Element>
void PeerBlockIndirectSort(const Element* values, std::uint64_t count, std::uint32_t* indices, PeerScratch& scratch,
                           unsigned threads) {
    SortAsPairs(values, count, indices, scratch.Inside().pairs, [threads](auto* first, auto* last) {
        boost::sort::block_indirect_sort(first, last, std::less<>(), threads);
    });
}

template <typename Element>
void PeerSampleSort(const Element* values, std::uint64_t count, std::uint32_t* indices, PeerScratch& scratch,
                    unsigned threads) {
    using Pair = PairOf<Element>;
    SortAsPairs(values, count, indices, scratch.Inside().pairs, [threads](Pair* first, Pair* last) {
        boost::sort::sample_sort(first, last, KeyLess<Pair>(), threads);
    });
}

template <typename Element>
void PeerGnuParallelSort(const Element* values, std::uint64_t count, std::uint32_t* indices, PeerScratch& scratch,
                         unsigned threads) {
    SortAsPairs(values, count, indices, scratch.Inside().pairs,
                [threads](auto* first, auto* last) { GnuParallelSort(first, last, threads); });
}

template <typename Element>
void PeerParallelStableSort(const Element* values, std::uint64_t count, std::uint32_t* indices, PeerScratch& scratch,
                            unsigned threads) {
    std::iota(indices, indices + count, std::uint32_t{0});
    scratch.Inside().Arena(threads).execute([=] {
        std::stable_sort(std::execution::par, indices, indices + count, [values](std::uint32_t a, std::uint32_t b) {
            return EvalCore::SortKey(values[a]) < EvalCore::SortKey(values[b]);
        });
    });
}

#define INSTANTIATE(Element)                                                                                    \
    template void PeerTbbSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);           \
    template void PeerStdSortPar(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);        \
    template void PeerBlockIndirectSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned); \
    template void PeerSampleSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);        \
    template void PeerGnuParallelSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);   \
    template void PeerParallelStableSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);
SORTBENCH_FOR_EACH_ELEMENT(INSTANTIATE)
#undef INSTANTIATE
