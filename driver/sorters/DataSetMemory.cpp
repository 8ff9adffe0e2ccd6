#include "driver/sorters/DataSetMemory.h"

#include <algorithm>

#include "driver/machine/AvailableMemory.h"
#include "driver/measuring/MemoryBudget.h"
#include "strings/MemoryText.h"

namespace {

// AvailableMemoryBytes() says this when the machine would not tell.
constexpr std::uint64_t kUnknown = std::numeric_limits<std::uint64_t>::max();

}  // namespace

DataSetMemory::DataSetMemory(const std::vector<Column>& columns, bool keepsQaReference, std::uint64_t sortsPerColumn,
                             bool oneRepetition)
    : columns(columns),
      keepsQaReference(keepsQaReference),
      sortsPerColumn(sortsPerColumn),
      oneRepetition(oneRepetition),
      hasPeers(HasColumnOf(columns, ColumnSorter::PeerSort) || HasColumnOf(columns, ColumnSorter::PairSort)),
      hasRadix(HasColumnOf(columns, ColumnSorter::RadixSort)) {}

std::uint64_t DataSetMemory::PeakBytes(std::uint64_t count, std::uint64_t keyBytes) const {
    return DataSetPeakBytes(count, keyBytes, keepsQaReference);
}

std::string DataSetMemory::FitProblem(std::uint64_t count, std::uint64_t keyBytes, std::uint64_t heldBytes) const {
    const std::uint64_t peak = PeakBytes(count, keyBytes);
    if (count > kMaxRecords) {
        return "indices are 32-bit, at most " + std::to_string(kMaxRecords) + " records (would need " +
               SLib::MemoryText(peak) + ")";
    }
    const std::uint64_t available = AvailableMemoryBytes();
    if (available != kUnknown && peak > available + heldBytes)
        return "out of memory (needs " + SLib::MemoryText(peak) + ", " + SLib::MemoryText(available + heldBytes) +
               " available)";
    return {};
}

DataSetMemory::Room DataSetMemory::RoomNow(std::uint64_t heldBytes) const {
    if (!hasPeers) return {};
    const std::uint64_t available = AvailableMemoryBytes();
    if (available == kUnknown) return {};
    return {.bytes = available + heldBytes, .known = true};
}

DataSetMemory::PeerRoom DataSetMemory::RoomForPeers(std::uint64_t count, std::uint64_t keyBytes, Room room,
                                                    unsigned everyCpu, unsigned pairBytes) const {
    if (!hasPeers) return {};
    // Without a radix column (-COLUMNS) there is no permutation to copy: the order check needs no room.
    const PeerCheck withCopy = hasRadix ? PeerCheck::RadixPermutation : PeerCheck::Order;
    if (!room.known) return {{}, withCopy};
    const std::uint64_t peak = PeakBytes(count, keyBytes);
    const std::uint64_t free = room.bytes > peak ? room.bytes - peak : 0;
    const PairScratchUse pairs{.everyCpu = everyCpu, .freedBeforePeers = oneRepetition, .pairBytes = pairBytes};
    PeerRoom peers{PeersBeyondMemory(columns, count, keyBytes, free, sortsPerColumn, pairs), PeerCheck::Order};
    const std::uint64_t referenceBytes = count * sizeof(std::uint32_t);
    if (hasRadix && free >= referenceBytes &&
        PeersBeyondMemory(columns, count, keyBytes, free - referenceBytes, sortsPerColumn, pairs).size() ==
            peers.skipped.size())
        peers.check = PeerCheck::RadixPermutation;
    const std::uint64_t beside = peers.check == PeerCheck::RadixPermutation ? free - referenceBytes : free;
    peers.mostSorts = MostSortsOfPeers(columns, count, keyBytes, beside, sortsPerColumn, pairs);
    return peers;
}
