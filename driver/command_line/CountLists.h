#pragma once

#include <cstdint>
#include <vector>

// The record counts a run goes through: the standard ladder, and what the
// count options given make of it.

// The 25 counts from 100 to 100,000,000 that an empty command line benchmarks.
const std::vector<std::uint64_t>& StandardLadder();

// The standard ladder up to and including `last`, which must be one of its counts.
std::vector<std::uint64_t> LadderUpTo(std::uint64_t last);

// The count options given, in whatever order, and the one list they decide.
struct CountSwitches {
    // The ladders, longest first: when several are given the longest wins.
    enum Ladder { k1B, k500M, k100M, k10M, k1M, k100K, kLadderCount };

    bool min = false;                 // "-MIN": beats every other count option
    std::uint64_t singleCount = 0;    // the largest of "-S500M", "-S750M", "-S1B" given; 0 for none
    bool ladders[kLadderCount] = {};  // beat only a custom count
    std::uint64_t customCount = 0;    // "-S N" (the last one given); 0 for none

    // "-MIN"'s counts, else the single count, else the longest ladder, else the
    // custom count, else the standard ladder. Never empty.
    std::vector<std::uint64_t> Counts() const;
};
