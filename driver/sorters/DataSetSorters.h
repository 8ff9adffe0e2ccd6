#pragma once

#include <cstdint>
#include <vector>

#include "cpu_sort/RadixSort32.h"
#include "cpu_sort/RadixSort64.h"
#include "cpu_sort/pairs/PairRadixSorter.h"
#include "driver/measuring/AppTimer.h"
#include "driver/measuring/SorterRounds.h"
#include "driver/sorters/Columns.h"
#include "driver/sorters/GpuColumns.h"
#include "driver/sorters/PeerMemory.h"
#include "driver/sorters/PeerSorters.h"
#include "driver/sorters/Peers.h"
#include "support/CharBuffer.h"

// What the sorters of a data set share, owned by the run: the index buffer every
// sorter fills, the stopwatch, the sorters' reusable scratch, and with -GPU the
// GPU columns. The two pair columns share one key-carrying radix sorter.
struct SorterTools {
    AppTimer& timer;
    AppCore::CharBuffer& indices;
    AppCore::CharBuffer& qaReference;    // with -QA: the CPU permutation the GPU's must equal
    AppCore::CharBuffer& peerReference;  // with PeerCheck::RadixPermutation: the permutation the peers' must equal
    EvalCore::RadixSort32& radix32;
    EvalCore::RadixSort64& radix64;
    EvalCore::PairRadixSorter& pairs;
    PeerScratch& peerScratch;
    GpuColumns* gpu;       // null without -GPU
    bool qa;               // -QA: check every GPU permutation against the 8-thread radix sort's
    unsigned peerThreads;  // the threads of the parallel peers and the all-CPU pair column (ParallelPeerThreads)
};

// What SorterTools refers to, owned in one place: the run's stopwatch, index
// buffer, references and the sorters' reusable scratch.
struct SorterWorkspace {
    AppTimer timer;
    AppCore::CharBuffer indices;
    AppCore::CharBuffer qaReference;    // with -QA: the CPU permutation the GPU's must equal
    AppCore::CharBuffer peerReference;  // with -PEERS: the radix permutation the peers' must equal
    EvalCore::RadixSort32 radix32{0};
    EvalCore::RadixSort64 radix64{0};
    EvalCore::PairRadixSorter pairs;
    PeerScratch peerScratch;

    // The tools over this workspace, which must outlive them.
    SorterTools Tools(GpuColumns* gpu = nullptr, bool qa = false, unsigned peerThreads = 1) {
        return SorterTools{.timer = timer,
                           .indices = indices,
                           .qaReference = qaReference,
                           .peerReference = peerReference,
                           .radix32 = radix32,
                           .radix64 = radix64,
                           .pairs = pairs,
                           .peerScratch = peerScratch,
                           .gpu = gpu,
                           .qa = qa,
                           .peerThreads = peerThreads};
    }
};

// Frees the memory only one data set needs: the radix, pair and peer scratch
// and the two references.
void ReleaseScratch(SorterTools& tools);

// How the peers' permutations are checked. Against the last radix sorter's,
// copied once a data set after its first timed sort (4 bytes a record beside
// the data set): two streams compared in memory order. Or, where that copy
// has no room, by their order alone (FirstOutOfOrder): a gather of every key,
// ten times the time at 10M keys. The stable permutation is unique, so both
// find the same wrong ones.
enum class PeerCheck { Order, RadixPermutation };

// The sorters that fill `columns` (in their order) for `count` records at
// `values`, Element = std::int32_t, float, std::int64_t or double. Each fills
// tools.indices; the timed sort starts from a cleared buffer. The standard
// sort's stable permutation is the reference: the radix sorters reproduce it,
// the GPU's is compared with the 8-thread radix sort's under -QA, and each
// peer's first timed sort of the data set is checked to give the radix
// sorters' permutation (ascending sort keys, ties by index) as `peerCheck`
// says, and so is each pair column's. The last radix sorter frees the scratch
// after a single repetition, so the next data set and the GPU start with that
// memory free, and the last pair column frees its own before the peers. The
// columns in
// `skipped` get sorters that do not run (Sorter::skipped): nothing of them is
// allocated or called.
template <typename Element>
std::vector<Sorter> SortersFor(const std::vector<Column>& columns, SorterTools& tools, const Element* values,
                               std::uint64_t count, const std::vector<SkippedColumn>& skipped = {},
                               PeerCheck peerCheck = PeerCheck::Order);
