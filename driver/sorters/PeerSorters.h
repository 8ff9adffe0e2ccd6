#pragma once

#include <cstdint>
#include <memory>

// Index sorts of other libraries, as yardsticks for our own sorters.
//
// Every one has the same contract. It fills indices[0 .. count) (count <= 2^32)
// with the permutation of 0 .. count-1 that our radix sorters give values[0 ..
// count): ascending EvalCore::SortKey order (cpu_sort/SortKey.h: -0 before +0,
// NaNs by sign bit, in bit order), equal keys in ascending index order. Element
// is std::int32_t, float, std::int64_t or double. It reads nothing of the
// caller's but the values and writes nothing but the indices and `scratch`.
//
// Most sort (sort key, index) pairs packed into one unsigned word, built from
// the values and unpacked into the indices inside the call: key << 32 | index
// in 64 bits for 4-byte keys, key << 64 | index in 128 bits for 8-byte keys.
// The pairs are distinct, so any correct sort of them, stable or not, gives
// the one permutation; a stable sort needs to compare only the key half. The
// pairs live in scratch's pair buffer (PeerPairBytes), which the call sizes to
// exactly `count` pairs and leaves allocated for the next call.
//
// `threads` is how many threads a parallel peer sorts on (at least 1); the
// one-thread peers ignore it. Each call may allocate the temporary memory its
// library's sort takes (kPeers in Peers.h gives how much) and frees it before
// it returns. Throws std::bad_alloc when memory runs out, std::system_error
// when a thread cannot be started.

class PeerScratch;

template <typename Element>
using PeerSort = void (*)(const Element* values, std::uint64_t count, std::uint32_t* indices, PeerScratch& scratch,
                          unsigned threads);

// One thread.
// Highway's vqsort (vectorised quicksort), with the scratch's sorter.
template <typename Element>
void PeerVqsort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);
// std::sort (libstdc++'s introsort).
template <typename Element>
void PeerStdSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);
// Boost.Sort's pdqsort_branchless: the pairs are plain integers under <.
template <typename Element>
void PeerPdqsort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);
// Boost.Sort's spreadsort integer_sort (a hybrid of MSD radix and pdqsort).
// The sort key is an unsigned integer for every type, so integer_sort serves
// the floats too; float_sort would order -0 and +0 as equal. For 8-byte keys
// the pair is wider than the 64 bits integer_sort splits on: it splits on the
// key alone and compares whole pairs, and the runs of equal keys that it
// leaves unsorted (it stops at a bin of one key) are put in index order after.
template <typename Element>
void PeerSpreadsort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);
// Boost.Sort's spinsort, stable, comparing keys only; allocates half a pair a record.
template <typename Element>
void PeerSpinsort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);

// On `threads` threads.
// TBB's parallel_sort (parallel quicksort, in place) in the scratch's arena of `threads`.
template <typename Element>
void PeerTbbSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);
// std::sort(std::execution::par_unseq, ...) in the scratch's arena of
// `threads` (libstdc++'s parallel algorithms run on TBB): a parallel merge
// sort that allocates a pair a record.
template <typename Element>
void PeerStdSortPar(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);
// Boost.Sort's block_indirect_sort; allocates a block of pairs per thread.
template <typename Element>
void PeerBlockIndirectSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);
// Boost.Sort's sample_sort (stable, comparing keys only); allocates a pair a record.
template <typename Element>
void PeerSampleSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);
// libstdc++'s parallel mode __gnu_parallel::sort (multiway merge sort on
// OpenMP); allocates a pair a record.
template <typename Element>
void PeerGnuParallelSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);
// std::stable_sort(std::execution::par, ...) of the indices 0 .. count-1
// themselves (no pairs), comparing the values' sort keys, in the scratch's
// arena of `threads`; allocates an index a record.
template <typename Element>
void PeerParallelStableSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);

// Bytes of the pair buffer for `count` records of keyBytes-byte keys (4 or 8):
// 8 or 16 per record.
std::uint64_t PeerPairBytes(std::uint64_t count, std::uint64_t keyBytes);

// The peers' reusable state: the pair buffer, Highway's sorter and a TBB arena.
// Each is made on first use (a warm-up), so a run without peers, or without
// the peer that needs it, allocates none of it. Movable, not copyable; a
// moved-from scratch may only be destroyed or assigned to.
class PeerScratch {
public:
    PeerScratch();
    PeerScratch(PeerScratch&&) noexcept;
    PeerScratch& operator=(PeerScratch&&) noexcept;
    ~PeerScratch();

    // Frees the pair buffer; the next sort allocates it again.
    void Release();
    // The pair buffer's current length.
    std::uint64_t Bytes() const;

    // What the peers' sorts use (PeerScratchState.h); opaque elsewhere.
    struct State;
    State& Inside();

private:
    std::unique_ptr<State> state;
};

#define SORTBENCH_DECLARE_PEER(Element)                                                                                \
    extern template void PeerVqsort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);            \
    extern template void PeerStdSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);           \
    extern template void PeerPdqsort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);           \
    extern template void PeerSpreadsort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);        \
    extern template void PeerSpinsort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);          \
    extern template void PeerTbbSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);           \
    extern template void PeerStdSortPar(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);        \
    extern template void PeerBlockIndirectSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned); \
    extern template void PeerSampleSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);        \
    extern template void PeerGnuParallelSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);   \
    extern template void PeerParallelStableSort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&, unsigned);
SORTBENCH_DECLARE_PEER(std::int32_t)
SORTBENCH_DECLARE_PEER(float)
SORTBENCH_DECLARE_PEER(std::int64_t)
SORTBENCH_DECLARE_PEER(double)
#undef SORTBENCH_DECLARE_PEER
