#include "driver/sorters/PeerSorters.h"

#include <hwy/contrib/sort/vqsort.h>

#include <algorithm>
#include <execution>
#include <numeric>

#include "cpu_sort/SortKey.h"
#include "driver/measuring/TestData.h"
#include "support/CharBuffer.h"
#include "support/DataTypes.h"

struct PeerScratch::State {
    AppCore::CharBuffer pairs;
    const hwy::Sorter sorter;
};

PeerScratch::PeerScratch() : state(std::make_unique<State>()) {}
PeerScratch::PeerScratch(PeerScratch&&) noexcept = default;
PeerScratch& PeerScratch::operator=(PeerScratch&&) noexcept = default;
PeerScratch::~PeerScratch() = default;

void PeerScratch::Release() { state->pairs.Clear(); }

std::uint64_t PeerScratch::Bytes() const { return state->pairs.size; }

std::uint64_t PeerScratchBytes(std::uint64_t count, std::uint64_t keyBytes) {
    return count * (keyBytes == 4 ? sizeof(std::uint64_t) : sizeof(hwy::uint128_t));
}

namespace {

// Exactly `count` pairs.
template <typename Pair>
Pair* SizePairs(AppCore::CharBuffer& pairs, std::uint64_t count) {
    return ResizeForElements<Pair>(count, pairs);
}

}  // namespace

template <typename Element>
void PeerVqsort(const Element* values, std::uint64_t count, std::uint32_t* indices, PeerScratch& scratch) {
    PeerScratch::State& state = *scratch.state;
    if constexpr (sizeof(Element) == 4) {
        std::uint64_t* pairs = SizePairs<std::uint64_t>(state.pairs, count);
        for (std::uint64_t i = 0; i < count; ++i) pairs[i] = std::uint64_t{EvalCore::SortKey(values[i])} << 32 | i;
        state.sorter(pairs, count, hwy::SortAscending());
        for (std::uint64_t i = 0; i < count; ++i) indices[i] = static_cast<std::uint32_t>(pairs[i]);
    } else {
        hwy::uint128_t* pairs = SizePairs<hwy::uint128_t>(state.pairs, count);
        for (std::uint64_t i = 0; i < count; ++i) pairs[i] = {i, EvalCore::SortKey(values[i])};
        state.sorter(pairs, count, hwy::SortAscending());
        for (std::uint64_t i = 0; i < count; ++i) indices[i] = static_cast<std::uint32_t>(pairs[i].lo);
    }
}

template <typename Element>
void PeerParallelStableSort(const Element* values, std::uint64_t count, std::uint32_t* indices) {
    std::iota(indices, indices + count, std::uint32_t{0});
    std::stable_sort(std::execution::par, indices, indices + count,
                     [values](std::uint32_t a, std::uint32_t b) { return values[a] < values[b]; });
}

#define INSTANTIATE(Element)                                                                        \
    template void PeerVqsort<Element>(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&); \
    template void PeerParallelStableSort<Element>(const Element*, std::uint64_t, std::uint32_t*);
SORTBENCH_FOR_EACH_ELEMENT(INSTANTIATE)
#undef INSTANTIATE
