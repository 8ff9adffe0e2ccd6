#pragma once

#include <string>

#include "driver/reporting/RunRecords.h"

// The peers' lines on the console and in run_conditions.txt.

// "Peer threads: 2 for the parallel peers (every online CPU), 1 for the others":
// a run-conditions line, "Key: value" like the others.
std::string PeerThreadsLine(unsigned parallelThreads);

// "Pair Radix threads: 2 for Pair Radix All CPUs (every online CPU), 1 for Pair
// Radix 1 Thread": the pair columns' run-conditions line.
std::string PairThreadsLine(unsigned everyCpu);

// "INT Peer vqsort - skipped: needs 14.9 GiB beside the data set, 6.1 GiB free":
// a skipped cell's line, in the place of its time.
std::string SkippedCellLine(const DataSetRecord& set, const SkippedCellRecord& cell);
