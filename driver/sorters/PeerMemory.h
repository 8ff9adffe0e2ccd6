#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/sorters/Columns.h"

// Which peers and pair columns (-PAIRS) a data set has room for. A data set
// too large for the machine ends the run (MemoryBudget.h); a peer or pair
// column too large for the room left beside it is only skipped, so that -S1B
// -PEERS -PAIRS still times every column that fits.

// A column that does not run on a data set, and why.
struct SkippedColumn {
    Column column;
    std::string reason;  // "needs 14.9 GiB beside the data set, 6.1 GiB free"
};

// How the pair columns' scratch lives beside the peers. The two columns share
// one sorter whose scratch only grows, so together they hold the larger of
// their PairRadixSorter::ScratchBytes. With one repetition it is freed after
// the last of them, before the first peer sorts; with rounds, which run every
// column in turn, it stays to the data set's end, beside the peers' memory.
// Their pairs are those the data set's keys take (PairRadixSorter::PairBytes)
// when known, else the most their width may take.
struct PairScratchUse {
    unsigned everyCpu = 1;          // the threads of the all-CPU column (ParallelPeerThreads)
    bool freedBeforePeers = false;  // one repetition
    unsigned pairBytes = 0;         // 8 or 16; 0: not known
};

// The peers and pair columns among `columns` that do not fit beside a data set
// of `count` records of keyBytes-byte keys (4 or 8) when `freeBytes` are left
// beside it (its keys, indices and our sorters' scratch, DataSetPeakBytes), in
// column order. The pair columns come first and are taken while their scratch
// fits (`pairs`). The peers run one at a time, but the pair buffer they share
// (PeerPairBytes) stays from the first pair-sorting peer to the data set's end,
// so the peers that run need that buffer plus the largest temporary memory of
// any one of them (PeerScratchBytes less the pairs), plus what the leaking
// ones lose over their `sortsPerPeer` sorts each (PeerLeakBytes), which stays
// lost, plus the pair columns' scratch while it is held. Peers are taken in
// column order while that fits; any other column is never skipped.
std::vector<SkippedColumn> PeersBeyondMemory(const std::vector<Column>& columns, std::uint64_t count,
                                             std::uint64_t keyBytes, std::uint64_t freeBytes,
                                             std::uint64_t sortsPerPeer = 2, PairScratchUse pairs = {});

// The most sorts each of the peers PeersBeyondMemory lets run (with the same
// arguments) can take before what the leaking ones lose outgrows `freeBytes`:
// at least sortsPerPeer, UINT64_MAX when none of them leaks. -R auto ends a
// data set's rounds there, as it does at its cap, so that rounds beyond the
// fewest it counted cannot run the machine out of memory.
std::uint64_t MostSortsOfPeers(const std::vector<Column>& columns, std::uint64_t count, std::uint64_t keyBytes,
                               std::uint64_t freeBytes, std::uint64_t sortsPerPeer, PairScratchUse pairs = {});
