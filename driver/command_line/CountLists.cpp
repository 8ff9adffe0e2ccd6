#include "driver/command_line/CountLists.h"

#include <algorithm>
#include <initializer_list>

namespace {

std::vector<std::uint64_t> LadderWith(std::initializer_list<std::uint64_t> extra) {
    std::vector<std::uint64_t> counts = StandardLadder();
    counts.insert(counts.end(), extra);
    return counts;
}

}  // namespace

const std::vector<std::uint64_t>& StandardLadder() {
    static const std::vector<std::uint64_t> ladder{100,      250,      500,      750,      1000,    2500,    5000,
                                                   7500,     10000,    25000,    50000,    75000,   100000,  250000,
                                                   500000,   750000,   1000000,  2500000,  5000000, 7500000, 10000000,
                                                   25000000, 50000000, 75000000, 100000000};
    return ladder;
}

std::vector<std::uint64_t> LadderUpTo(std::uint64_t last) {
    const auto& ladder = StandardLadder();
    return {ladder.begin(), std::find(ladder.begin(), ladder.end(), last) + 1};
}

std::vector<std::uint64_t> CountSwitches::Counts() const {
    if (min) return LadderUpTo(1000);
    if (singleCount != 0) return {singleCount};
    if (ladders[k1B]) return LadderWith({250000000, 500000000, 750000000, 1000000000});
    if (ladders[k500M]) return LadderWith({250000000, 500000000});
    if (ladders[k100M]) return StandardLadder();
    if (ladders[k10M]) return LadderUpTo(10000000);
    if (ladders[k1M]) return LadderUpTo(1000000);
    if (ladders[k100K]) return LadderUpTo(100000);
    if (customCount != 0) return {customCount};
    return StandardLadder();
}
