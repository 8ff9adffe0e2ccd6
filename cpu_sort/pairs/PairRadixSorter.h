#pragma once

#include <cstdint>
#include <memory>

namespace EvalCore {

// A radix sort that carries each key with its index: the same permutation as
// every other sorter of the benchmark, reached by moving (sort key, index)
// pairs instead of reading keys through indices.
//
// Contract, for every Sort overload:
//   - fills indices[0, n) with the permutation of 0 ... n - 1 that orders
//     values[0, n) by ascending sort key (cpu_sort/SortKey.h: -0 before +0,
//     NaNs by sign bit and then bit order), equal keys in ascending index order;
//   - reads nothing of the caller's but values[0, n) and writes nothing of the
//     caller's but indices[0, n); n = 0 writes nothing; n must not exceed
//     4,294,967,295 (indices are 4 bytes);
//   - threads 0 and 1 sort on the calling thread; T > 1 starts T worker
//     threads per phase and joins them before it returns;
//   - its scratch is kept between calls and only grows (ScratchBytes gives the
//     most a sort takes), so sorting the same or a smaller count again
//     allocates nothing; Release frees it;
//   - throws std::bad_alloc when the scratch cannot be had, std::system_error
//     when a worker thread cannot be started; `indices` then holds no
//     permutation, and the sorter stays usable.
// One object serves one sort at a time. Movable, not copyable.
class PairRadixSorter {
public:
    PairRadixSorter();
    PairRadixSorter(PairRadixSorter&&) noexcept;
    PairRadixSorter& operator=(PairRadixSorter&&) noexcept;
    PairRadixSorter(const PairRadixSorter&) = delete;
    PairRadixSorter& operator=(const PairRadixSorter&) = delete;
    ~PairRadixSorter();

    void Sort(const std::int32_t* values, std::uint64_t n, std::uint32_t* indices, unsigned threads);
    void Sort(const float* values, std::uint64_t n, std::uint32_t* indices, unsigned threads);
    void Sort(const std::int64_t* values, std::uint64_t n, std::uint32_t* indices, unsigned threads);
    void Sort(const double* values, std::uint64_t n, std::uint32_t* indices, unsigned threads);

    // Frees the scratch; the next sort allocates it again.
    void Release() noexcept;
    // The scratch held now, in bytes.
    std::uint64_t Bytes() const noexcept;

    // The most scratch a sort of n keys of keyBytes (4 or 8) on `threads`
    // threads holds, in bytes: what a caller must find room for beside the
    // keys and the indices.
    static std::uint64_t ScratchBytes(std::uint64_t n, unsigned keyBytes, unsigned threads);

private:
    struct Scratch;
    std::unique_ptr<Scratch> scratch;
};

}  // namespace EvalCore
