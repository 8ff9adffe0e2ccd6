#include "driver/machine/MachineReference.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "driver/machine/AccessPatterns.h"

namespace {

constexpr std::size_t kCopyEntries = (4u << 20) / sizeof(std::uint32_t);
constexpr std::size_t kKeyEntries = (8u << 20) / sizeof(std::uint32_t);
constexpr std::size_t kLoads = 512u << 10;
// The best of a few timings: an interruption of a millisecond or two is no
// change of the machine's speed, a slow spell of other work or a lower clock is.
constexpr int kTimings = 3;
constexpr std::uint64_t kSeed = 0x5eed'5eed;

}  // namespace

MachineReference::MachineReference()
    : copySource(kCopyEntries, 1), copyDestination(kCopyEntries), keys(kKeyEntries), positions(kLoads) {
    AccessPatterns::FillRandomPositions(keys.data(), keys.size(), std::uint64_t{1} << 32, kSeed);
    AccessPatterns::FillRandomPositions(positions.data(), positions.size(), keys.size(), kSeed + 1);
}

double MachineReference::TimeMs() {
    double best = 0.0;
    for (int timing = 0; timing < kTimings; ++timing) {
        const auto start = std::chrono::steady_clock::now();
        std::memcpy(copyDestination.data(), copySource.data(), copySource.size() * sizeof(std::uint32_t));
        sink += AccessPatterns::LoadThrough(keys.data(), positions.data(), 0, positions.size());
        sink += copyDestination[sink % copyDestination.size()];
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (timing == 0 || ms < best) best = ms;
    }
    return best;
}

double ReferenceDrift(const std::vector<double>& referenceMs) {
    const auto half = static_cast<std::ptrdiff_t>(referenceMs.size() / 2);
    if (half == 0) return 0.0;
    const double earlier = *std::min_element(referenceMs.begin(), referenceMs.begin() + half);
    const double later = *std::min_element(referenceMs.end() - half, referenceMs.end());
    return earlier > 0.0 ? std::abs(later / earlier - 1.0) : 0.0;
}
