#pragma once

#include <cstdint>
#include <vector>

// A short fixed piece of work whose time moves only with the machine: other
// work on its CPUs, its clock, the memory's contention. -R auto times it after
// every round of a data set, outside every sort's timing, so that a slow spell
// of the machine can be told from a noisy sorter.
//
// The work is the limits probe's copy and load loops at one size: a memcpy of
// 4 MiB, then 512Ki 4-byte keys loaded at random positions of 8 MiB through an
// index array, by the sort's own loop; its time is the best of three timings.
// About 5 ms here: the arrays outgrow the second-level cache, as the sorts' do,
// yet add little to a round.
class MachineReference {
public:
    // Allocates and fills the arrays (20 MiB), once.
    MachineReference();

    // The work's time, in milliseconds.
    double TimeMs();

private:
    std::vector<std::uint32_t> copySource;
    std::vector<std::uint32_t> copyDestination;
    std::vector<std::uint32_t> keys;
    std::vector<std::uint32_t> positions;
    std::uint64_t sink = 0;  // the loads' sum, kept so that they cannot be left out
};

// How far the machine's speed moved over the rounds whose reference times are
// `referenceMs`, in round order: the fastest time of the later half of the
// rounds over the fastest of the earlier half, minus one, as a size (0.05: one
// half's best ran 5% longer than the other's). The best of each half, as the
// limits probe keeps the best of its timings: noise only ever adds time, so
// one slow round moves no best, while a slow spell over half the rounds or a
// lower clock moves it. 0 for fewer than two times.
double ReferenceDrift(const std::vector<double>& referenceMs);
