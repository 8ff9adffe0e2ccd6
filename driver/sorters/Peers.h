#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "driver/sorters/PeerSorters.h"

// The sorters of other libraries a run can time beside ours (-PEERS). Their
// columns (Columns.h), the names -PEERS takes, the memory guard
// (PeerMemory.h), the manifest's list and the usage text all come from the one
// table below: a new peer is one entry, its sort function and its enumerator.
enum class Peer {
    Vqsort,
    StdSort,
    Pdqsort,
    Spreadsort,
    Spinsort,
    Tbb,
    StdSortPar,
    BlockIndirect,
    SampleSort,
    GnuParallel,
    ParallelStableSort,
};

// How many threads a peer sorts on: one, or every online CPU (ParallelPeerThreads).
enum class PeerThreads { One, EveryCpu };

// A peer's sort for each element type.
struct PeerSorts {
    PeerSort<std::int32_t> int32;
    PeerSort<float> float32;
    PeerSort<std::int64_t> int64;
    PeerSort<double> float64;
};

#define SORTBENCH_PEER_SORTS(Function) \
    PeerSorts { &Function<std::int32_t>, &Function<float>, &Function<std::int64_t>, &Function<double> }

struct PeerFacts {
    Peer peer;
    const char* name;    // in -PEERS lists and the manifest: "pdqsort"
    const char* column;  // the column's name in every file, line and chart: "Peer pdqsort"
    PeerThreads threads;
    PeerSorts sort;
    // Sorts the shared pair buffer (PeerPairBytes), which a data set keeps
    // from the first such peer's warm-up to its end.
    bool sortsPairs;
    // Bytes a record it needs beside the data set during one sort, its pairs
    // included, for 4-byte and for 8-byte keys; measured where its library
    // allocates more than its buffer (the parallel algorithms of libstdc++),
    // rounded up where it adds a few blocks per thread.
    unsigned scratchPerRecord4;
    unsigned scratchPerRecord8;
    // Bytes a record that each of its sorts never gives back: the parallel
    // algorithms of Debian 12's libstdc++ on oneTBB leak about 3.5 (measured
    // at 10 and 20 million records, 4- and 8-byte elements alike), memory
    // lost until the process ends.
    unsigned leakPerRecordPerSort;
    const char* what;  // what it is, for the usage text
};

// One peer a row, wrapped by hand; column order. The two first columns ever
// ("Peer vqsort", "Peer parallel stable sort") keep their names, which stored
// results use.
// clang-format off
inline constexpr std::array<PeerFacts, 11> kPeers{{
    {Peer::Vqsort, "vqsort", "Peer vqsort", PeerThreads::One, SORTBENCH_PEER_SORTS(PeerVqsort), true, 8, 16, 0,
     "Highway's vqsort"},
    {Peer::StdSort, "std-sort", "Peer std-sort", PeerThreads::One, SORTBENCH_PEER_SORTS(PeerStdSort), true, 8, 16, 0,
     "std::sort"},
    {Peer::Pdqsort, "pdqsort", "Peer pdqsort", PeerThreads::One, SORTBENCH_PEER_SORTS(PeerPdqsort), true, 8, 16, 0,
     "Boost.Sort's pdqsort_branchless"},
    {Peer::Spreadsort, "spreadsort", "Peer spreadsort", PeerThreads::One, SORTBENCH_PEER_SORTS(PeerSpreadsort), true,
     8, 16, 0, "Boost.Sort's spreadsort integer_sort"},
    {Peer::Spinsort, "spinsort", "Peer spinsort", PeerThreads::One, SORTBENCH_PEER_SORTS(PeerSpinsort), true, 12, 24, 0,
     "Boost.Sort's spinsort (stable)"},
    {Peer::Tbb, "tbb", "Peer tbb", PeerThreads::EveryCpu, SORTBENCH_PEER_SORTS(PeerTbbSort), true, 8, 16, 0,
     "TBB's parallel_sort"},
    {Peer::StdSortPar, "std-sort-par", "Peer std-sort-par", PeerThreads::EveryCpu,
     SORTBENCH_PEER_SORTS(PeerStdSortPar), true, 20, 35, 4, "std::sort(std::execution::par_unseq)"},
    {Peer::BlockIndirect, "block-indirect", "Peer block-indirect", PeerThreads::EveryCpu,
     SORTBENCH_PEER_SORTS(PeerBlockIndirectSort), true, 9, 17, 0, "Boost.Sort's block_indirect_sort"},
    {Peer::SampleSort, "sample-sort", "Peer sample-sort", PeerThreads::EveryCpu, SORTBENCH_PEER_SORTS(PeerSampleSort),
     true, 16, 32, 0, "Boost.Sort's sample_sort (stable)"},
    {Peer::GnuParallel, "gnu-parallel", "Peer gnu-parallel", PeerThreads::EveryCpu,
     SORTBENCH_PEER_SORTS(PeerGnuParallelSort), true, 17, 33, 0, "libstdc++'s __gnu_parallel::sort (OpenMP)"},
    {Peer::ParallelStableSort, "std-stable-sort-par", "Peer parallel stable sort", PeerThreads::EveryCpu,
     SORTBENCH_PEER_SORTS(PeerParallelStableSort), false, 8, 8, 4,
     "std::stable_sort(std::execution::par) of the indices"},
}};
// clang-format on

constexpr const PeerFacts& FactsOf(Peer peer) { return kPeers[static_cast<std::size_t>(peer)]; }

// The sort of `facts` for Element = std::int32_t, float, std::int64_t or double.
template <typename Element>
constexpr PeerSort<Element> SortOf(const PeerFacts& facts) {
    if constexpr (std::is_same_v<Element, std::int32_t>) return facts.sort.int32;
    if constexpr (std::is_same_v<Element, float>) return facts.sort.float32;
    if constexpr (std::is_same_v<Element, std::int64_t>) return facts.sort.int64;
    if constexpr (std::is_same_v<Element, double>) return facts.sort.float64;
}

// Every peer, in table order.
std::vector<Peer> AllPeers();

// The threads the parallel peers sort on: the online CPUs the machine facts
// report, or the standard library's count of hardware threads when they do
// not say (onlineCpus 0); at least 1.
unsigned ParallelPeerThreads(int onlineCpus);

// The threads `peer` sorts on when the parallel peers get `parallelThreads`.
unsigned PeerThreadCount(Peer peer, unsigned parallelThreads);

// Bytes `peer` needs beside a data set of `count` records of keyBytes-byte
// keys (4 or 8) during one sort, its pairs included.
std::uint64_t PeerScratchBytes(Peer peer, std::uint64_t count, std::uint64_t keyBytes);

// Bytes each sort of `peer` on `count` records leaks (leakPerRecordPerSort).
std::uint64_t PeerLeakBytes(Peer peer, std::uint64_t count);

// Parses the comma-separated names of a -PEERS list into `out` (replacing its
// contents) in table order, each peer once; "all" gives every peer. Names given
// more than once go into `repeated`, comma separated, when it is given. An
// unknown name, an empty list or an empty name returns false with a one-line
// `error` that lists the valid names; `out` is then unspecified.
bool ParsePeerList(const std::string& list, std::vector<Peer>& out, std::string& error,
                   std::string* repeated = nullptr);
