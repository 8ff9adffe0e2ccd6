#include "driver/sorters/PeerMemory.h"

#include <algorithm>

#include "strings/MemoryText.h"

std::vector<SkippedColumn> PeersBeyondMemory(const std::vector<Column>& columns, std::uint64_t count,
                                             std::uint64_t keyBytes, std::uint64_t freeBytes) {
    std::vector<SkippedColumn> skipped;
    std::uint64_t heldPairs = 0;      // the pair buffer, once a peer that runs sorts pairs
    std::uint64_t mostTemporary = 0;  // the largest temporary memory of the peers that run
    for (const Column column : columns) {
        if (FactsOf(column).sorter != ColumnSorter::PeerSort) continue;
        const Peer peer = PeerOf(column);
        const std::uint64_t pairs = FactsOf(peer).sortsPairs ? PeerPairBytes(count, keyBytes) : 0;
        const std::uint64_t temporary = PeerScratchBytes(peer, count, keyBytes) - pairs;
        const std::uint64_t needs = std::max(heldPairs, pairs) + std::max(mostTemporary, temporary);
        if (needs <= freeBytes) {
            heldPairs = std::max(heldPairs, pairs);
            mostTemporary = std::max(mostTemporary, temporary);
            continue;
        }
        // What the peers before it hold counts too: say so when that is what tips it over.
        const std::string held = needs > pairs + temporary ? " with the pairs of the peers before it" : "";
        skipped.push_back({column, "needs " + SLib::MemoryText(needs) + " beside the data set" + held + ", " +
                                       SLib::MemoryText(freeBytes) + " free"});
    }
    return skipped;
}
