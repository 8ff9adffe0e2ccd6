#pragma once

#include <cstdint>
#include <memory>

// Index sorts of other libraries, as yardsticks for our own sorters. Each
// fills indices[0 .. count) with a permutation of 0 .. count-1 that orders
// values[0 .. count) (count <= 2^32), for Element = std::int32_t, float,
// std::int64_t or double. Neither reads or writes anything else of the caller's.

class PeerScratch;

// Highway's vqsort (one thread) on packed (sort key, index) pairs: 64-bit
// words key << 32 | index for 4-byte elements, 128-bit words (hi = key,
// lo = index) for 8-byte ones. The pairs are distinct, so the permutation is
// the one our radix sorters give: ascending EvalCore::SortKey order (-0 before
// +0, NaNs by sign), ties by index.
// Throws std::bad_alloc when the pair buffer cannot be sized.
template <typename Element>
void PeerVqsort(const Element* values, std::uint64_t count, std::uint32_t* indices, PeerScratch& scratch);

// std::stable_sort(std::execution::par, ...) of 0 .. count-1 by
// values[a] < values[b] (libstdc++'s parallel algorithms on TBB): the same
// permutation as the sequential std::stable_sort with that comparator. Values
// must be ordered by < (no NaNs).
template <typename Element>
void PeerParallelStableSort(const Element* values, std::uint64_t count, std::uint32_t* indices);

// Bytes PeerVqsort's pair buffer holds for `count` records of keyBytes-byte
// keys (4 or 8): 8 or 16 per record.
std::uint64_t PeerScratchBytes(std::uint64_t count, std::uint64_t keyBytes);

// PeerVqsort's reusable state: the pair buffer, sized exactly to the last
// call's count (see PeerScratchBytes), and Highway's sorter. Movable, not
// copyable; a moved-from scratch may only be destroyed or assigned to.
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

private:
    struct State;
    std::unique_ptr<State> state;

    template <typename Element>
    friend void PeerVqsort(const Element*, std::uint64_t, std::uint32_t*, PeerScratch&);
};
