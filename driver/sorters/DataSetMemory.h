#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "driver/sorters/Columns.h"
#include "driver/sorters/DataSetSorters.h"
#include "driver/sorters/PeerMemory.h"

// Whether a run's data sets fit in the memory available now, and which
// peers and pair columns fit beside each: asked before a data set takes its memory, so that a
// data set too large ends the run with one line instead of a wrapped index
// or an out-of-memory kill, and a peer too large is only skipped.

// Indices are 32-bit, so a data set holds at most this many records.
inline constexpr std::uint64_t kMaxRecords = std::numeric_limits<std::uint32_t>::max();

class DataSetMemory {
public:
    // `columns`: the run's; `keepsQaReference`: -GPU with -QA; `sortsPerColumn`:
    // the sorts of each column in a data set, its warm-up included (for -R
    // auto the fewest its rounds take), which is what a leaking peer loses;
    // `oneRepetition`: each column sorts once, so the pair columns' scratch
    // is freed before the peers sort (PairScratchUse).
    DataSetMemory(const std::vector<Column>& columns, bool keepsQaReference, std::uint64_t sortsPerColumn,
                  bool oneRepetition = false);

    // Bytes a data set of `count` records of keyBytes-byte keys holds at its
    // peak, the peers aside: they take what is left.
    std::uint64_t PeakBytes(std::uint64_t count, std::uint64_t keyBytes) const;

    // Why such a data set cannot be held, or nothing. `heldBytes`: the
    // buffers the run holds already, which the data set reuses.
    std::string FitProblem(std::uint64_t count, std::uint64_t keyBytes, std::uint64_t heldBytes) const;

    // The peers and pair columns that do not fit beside such a data set, each
    // with its reason, how the others are checked (against a copy of the radix
    // permutation when the run has a radix column and the copy costs no column
    // its place), and the most sorts each
    // column may take before what the leaking peers lose outgrows the room
    // (MostSortsOfPeers): never fewer than sortsPerColumn.
    struct PeerRoom {
        std::vector<SkippedColumn> skipped;
        PeerCheck check = PeerCheck::Order;
        std::uint64_t mostSorts = std::numeric_limits<std::uint64_t>::max();
    };
    // The memory a data set may take, read before its buffers grow (so before
    // its keys exist): what is available now and the buffers the run holds
    // already (`heldBytes`), which the data set reuses. Unknown when the
    // machine would not tell, and not read when no column may be skipped.
    struct Room {
        std::uint64_t bytes = 0;
        bool known = false;
    };
    Room RoomNow(std::uint64_t heldBytes) const;

    // `room`: RoomNow before the data set's buffers grew; `everyCpu`: the
    // threads of the pair column on every online CPU; `pairBytes`: the pairs
    // the data set's keys take (PairScratchUse), 0 when not known.
    PeerRoom RoomForPeers(std::uint64_t count, std::uint64_t keyBytes, Room room, unsigned everyCpu = 1,
                          unsigned pairBytes = 0) const;

private:
    const std::vector<Column>& columns;
    bool keepsQaReference;
    std::uint64_t sortsPerColumn;
    bool oneRepetition;
    bool hasPeers;  // or pair columns: the columns that may be skipped
    bool hasRadix;  // a radix column, whose permutation the peers may be checked against
};
