#include "driver/sorters/PeerMemory.h"

#include <algorithm>
#include <limits>

#include "strings/MemoryText.h"

namespace {

// What the peers taken so far hold and lose.
struct TakenPeers {
    std::vector<SkippedColumn> skipped;
    std::uint64_t needs = 0;        // all they hold at once, and lose over their sorts
    std::uint64_t leakPerSort = 0;  // what one more sort of each of them loses
};

TakenPeers TakePeers(const std::vector<Column>& columns, std::uint64_t count, std::uint64_t keyBytes,
                     std::uint64_t freeBytes, std::uint64_t sortsPerPeer) {
    TakenPeers taken;
    std::uint64_t heldPairs = 0;      // the pair buffer, once a peer that runs sorts pairs
    std::uint64_t mostTemporary = 0;  // the largest temporary memory of the peers that run
    std::uint64_t leaked = 0;         // what the peers that run lose, all their sorts together
    for (const Column column : columns) {
        if (FactsOf(column).sorter != ColumnSorter::PeerSort) continue;
        const Peer peer = PeerOf(column);
        const std::uint64_t pairs = FactsOf(peer).sortsPairs ? PeerPairBytes(count, keyBytes) : 0;
        const std::uint64_t temporary = PeerScratchBytes(peer, count, keyBytes) - pairs;
        const std::uint64_t leaks = PeerLeakBytes(peer, count) * sortsPerPeer;
        const std::uint64_t needs = std::max(heldPairs, pairs) + std::max(mostTemporary, temporary) + leaked + leaks;
        if (needs <= freeBytes) {
            heldPairs = std::max(heldPairs, pairs);
            mostTemporary = std::max(mostTemporary, temporary);
            leaked += leaks;
            taken.needs = needs;
            taken.leakPerSort += PeerLeakBytes(peer, count);
            continue;
        }
        // What the peers before it hold counts too: say so when that is what tips it over.
        const char* before =
            leaked == 0 ? " with the pairs of the peers before it" : " with what the peers before it hold and lose";
        const std::string held = needs > pairs + temporary + leaks ? before : "";
        taken.skipped.push_back({column, "needs " + SLib::MemoryText(needs) + " beside the data set" + held + ", " +
                                             SLib::MemoryText(freeBytes) + " free"});
    }
    return taken;
}

}  // namespace

std::vector<SkippedColumn> PeersBeyondMemory(const std::vector<Column>& columns, std::uint64_t count,
                                             std::uint64_t keyBytes, std::uint64_t freeBytes,
                                             std::uint64_t sortsPerPeer) {
    return TakePeers(columns, count, keyBytes, freeBytes, sortsPerPeer).skipped;
}

std::uint64_t MostSortsOfPeers(const std::vector<Column>& columns, std::uint64_t count, std::uint64_t keyBytes,
                               std::uint64_t freeBytes, std::uint64_t sortsPerPeer) {
    const TakenPeers taken = TakePeers(columns, count, keyBytes, freeBytes, sortsPerPeer);
    if (taken.leakPerSort == 0) return std::numeric_limits<std::uint64_t>::max();
    return sortsPerPeer + (freeBytes - taken.needs) / taken.leakPerSort;
}
