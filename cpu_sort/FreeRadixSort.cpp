#include "cpu_sort/FreeRadixSort.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "cpu_sort/SortKey.h"

namespace EvalCore {
namespace {

struct FreeBlock {
    void operator()(void* block) const { std::free(block); }
};

template <class Value>
void SortValues(Value* values, std::size_t n) {
    constexpr unsigned digitBits = sizeof(Value) == 4 ? 8 : 16;
    constexpr std::size_t radix = std::size_t{1} << digitBits;
    if (n == 0) return;
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(Value)) throw std::bad_alloc();
    const std::unique_ptr<Value, FreeBlock> scratch(static_cast<Value*>(std::malloc(n * sizeof(Value))));
    if (!scratch) throw std::bad_alloc();
    std::vector<std::size_t> counters(radix);

    for (unsigned pass = 0; pass < 4; ++pass) {
        // Passes alternate so that the fourth one ends in `values`.
        const Value* source = pass % 2 == 0 ? values : scratch.get();
        Value* destination = pass % 2 == 0 ? scratch.get() : values;
        const unsigned shift = pass * digitBits;
        const auto digit = [shift](Value value) { return (SortKey(value) >> shift) & (radix - 1); };

        std::fill(counters.begin(), counters.end(), 0);
        for (std::size_t i = 0; i < n; ++i) ++counters[digit(source[i])];
        for (std::size_t d = 1; d < radix; ++d) counters[d] += counters[d - 1];
        for (std::size_t i = n; i-- > 0;) destination[--counters[digit(source[i])]] = source[i];
    }
}

}  // namespace

void RadixSort(int* values, unsigned long n) { SortValues(values, n); }
void RadixSort(float* values, unsigned long n) { SortValues(values, n); }
void RadixSort(long* values, unsigned long n) { SortValues(values, n); }
void RadixSort(double* values, unsigned long n) { SortValues(values, n); }

}  // namespace EvalCore
