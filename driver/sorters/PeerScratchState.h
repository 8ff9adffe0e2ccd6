#pragma once

#include <memory>

#include <hwy/contrib/sort/vqsort.h>
#include <tbb/task_arena.h>

#include "driver/sorters/PeerSorters.h"
#include "support/CharBuffer.h"

// What the peers' sorts keep between calls, for their translation units only.
struct PeerScratch::State {
    AppCore::CharBuffer pairs;
    std::unique_ptr<hwy::Sorter> vqsort;  // made by the first vqsort
    // Made by the first TBB peer for its thread count, made anew for another:
    // libstdc++'s parallel algorithms run in the arena they are called from.
    std::unique_ptr<tbb::task_arena> arena;
    unsigned arenaThreads = 0;

    hwy::Sorter& Vqsort() {
        if (!vqsort) vqsort = std::make_unique<hwy::Sorter>();
        return *vqsort;
    }

    tbb::task_arena& Arena(unsigned threads) {
        if (!arena || arenaThreads != threads) {
            arena = std::make_unique<tbb::task_arena>(static_cast<int>(threads));
            arenaThreads = threads;
        }
        return *arena;
    }
};
