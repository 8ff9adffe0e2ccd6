#include "cpu_sort/pairs/PairRadixSorter.h"

#include <algorithm>
#include <type_traits>
#include <vector>

#include "cpu_sort/SortKey.h"

// A first, plain body: (sort key, index) pairs packed into one word and
// sorted by std::sort, which gives the one permutation since the pairs are
// distinct.
namespace EvalCore {

struct PairRadixSorter::Scratch {
    std::vector<std::uint64_t> narrow;
    std::vector<unsigned __int128> wide;
};

namespace {

template <class Value, class Word>
void SortPairs(const Value* values, std::uint64_t n, std::uint32_t* indices, std::vector<Word>& pairs) {
    pairs.resize(n);
    constexpr unsigned keyBits = sizeof(Value) * 8;
    for (std::uint64_t i = 0; i < n; ++i) {
        const auto key = SortKey(values[i]);
        pairs[i] = static_cast<Word>(key) << keyBits | static_cast<Word>(i);
    }
    std::sort(pairs.begin(), pairs.end());
    for (std::uint64_t i = 0; i < n; ++i) indices[i] = static_cast<std::uint32_t>(pairs[i]);
}

}  // namespace

PairRadixSorter::PairRadixSorter() : scratch(std::make_unique<Scratch>()) {}
PairRadixSorter::PairRadixSorter(PairRadixSorter&&) noexcept = default;
PairRadixSorter& PairRadixSorter::operator=(PairRadixSorter&&) noexcept = default;
PairRadixSorter::~PairRadixSorter() = default;

void PairRadixSorter::Sort(const std::int32_t* values, std::uint64_t n, std::uint32_t* indices, unsigned) {
    SortPairs(values, n, indices, scratch->narrow);
}
void PairRadixSorter::Sort(const float* values, std::uint64_t n, std::uint32_t* indices, unsigned) {
    SortPairs(values, n, indices, scratch->narrow);
}
void PairRadixSorter::Sort(const std::int64_t* values, std::uint64_t n, std::uint32_t* indices, unsigned) {
    SortPairs(values, n, indices, scratch->wide);
}
void PairRadixSorter::Sort(const double* values, std::uint64_t n, std::uint32_t* indices, unsigned) {
    SortPairs(values, n, indices, scratch->wide);
}

void PairRadixSorter::Release() noexcept { *scratch = Scratch{}; }

std::uint64_t PairRadixSorter::Bytes() const noexcept {
    return scratch->narrow.capacity() * sizeof(std::uint64_t) + scratch->wide.capacity() * sizeof(unsigned __int128);
}

std::uint64_t PairRadixSorter::ScratchBytes(std::uint64_t n, unsigned keyBytes, unsigned) {
    return n * (keyBytes + 4 <= 8 ? 8 : 16);
}

}  // namespace EvalCore
