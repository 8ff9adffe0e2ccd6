#include "driver/sorters/PeerMemory.h"

#include <algorithm>
#include <limits>

#include "cpu_sort/pairs/PairRadixSorter.h"
#include "strings/MemoryText.h"

namespace {

// What the peers taken so far hold and lose.
struct TakenPeers {
    std::vector<SkippedColumn> skipped;
    std::uint64_t needs = 0;        // all they hold at once, and lose over their sorts
    std::uint64_t leakPerSort = 0;  // what one more sort of each of them loses
};

std::string SkipReason(std::uint64_t needs, std::uint64_t freeBytes, const char* held) {
    return "needs " + SLib::MemoryText(needs) + " beside the data set" + held + ", " + SLib::MemoryText(freeBytes) +
           " free";
}

TakenPeers TakePeers(const std::vector<Column>& columns, std::uint64_t count, std::uint64_t keyBytes,
                     std::uint64_t freeBytes, std::uint64_t sortsPerPeer, PairScratchUse pairUse) {
    TakenPeers taken;
    std::uint64_t pairScratch = 0;    // what the pair columns that run hold
    std::uint64_t heldPairs = 0;      // the pair buffer, once a peer that runs sorts pairs
    std::uint64_t mostTemporary = 0;  // the largest temporary memory of the peers that run
    std::uint64_t leaked = 0;         // what the peers that run lose, all their sorts together
    for (const Column column : columns) {
        if (FactsOf(column).sorter == ColumnSorter::PairSort) {
            const unsigned threads = ColumnThreads(column, pairUse.everyCpu);
            const std::uint64_t scratch =
                pairUse.pairBytes != 0
                    ? EvalCore::PairRadixSorter::ScratchBytesOfPairs(count, pairUse.pairBytes, threads)
                    : EvalCore::PairRadixSorter::ScratchBytes(count, static_cast<unsigned>(keyBytes), threads);
            const std::uint64_t needs = std::max(pairScratch, scratch);
            if (needs <= freeBytes) {
                pairScratch = needs;
            } else {
                taken.skipped.push_back({column, SkipReason(needs, freeBytes, "")});
            }
            continue;
        }
        if (FactsOf(column).sorter != ColumnSorter::PeerSort) continue;
        const Peer peer = PeerOf(column);
        const std::uint64_t pairs = FactsOf(peer).sortsPairs ? PeerPairBytes(count, keyBytes) : 0;
        const std::uint64_t temporary = PeerScratchBytes(peer, count, keyBytes) - pairs;
        const std::uint64_t leaks = PeerLeakBytes(peer, count) * sortsPerPeer;
        const std::uint64_t besidePairColumns = pairUse.freedBeforePeers ? 0 : pairScratch;
        const std::uint64_t needs =
            besidePairColumns + std::max(heldPairs, pairs) + std::max(mostTemporary, temporary) + leaked + leaks;
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
        const char* held = needs - besidePairColumns > pairs + temporary + leaks ? before
                           : besidePairColumns != 0                              ? " with the pair columns' scratch"
                                                                                 : "";
        taken.skipped.push_back({column, SkipReason(needs, freeBytes, held)});
    }
    // The pair columns alone hold memory while the peers that leak sort too.
    if (!pairUse.freedBeforePeers) taken.needs = std::max(taken.needs, pairScratch);
    return taken;
}

}  // namespace

std::vector<SkippedColumn> PeersBeyondMemory(const std::vector<Column>& columns, std::uint64_t count,
                                             std::uint64_t keyBytes, std::uint64_t freeBytes,
                                             std::uint64_t sortsPerPeer, PairScratchUse pairs) {
    return TakePeers(columns, count, keyBytes, freeBytes, sortsPerPeer, pairs).skipped;
}

std::uint64_t MostSortsOfPeers(const std::vector<Column>& columns, std::uint64_t count, std::uint64_t keyBytes,
                               std::uint64_t freeBytes, std::uint64_t sortsPerPeer, PairScratchUse pairs) {
    const TakenPeers taken = TakePeers(columns, count, keyBytes, freeBytes, sortsPerPeer, pairs);
    if (taken.leakPerSort == 0) return std::numeric_limits<std::uint64_t>::max();
    return sortsPerPeer + (freeBytes - taken.needs) / taken.leakPerSort;
}
