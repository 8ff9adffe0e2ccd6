#include "driver/machine/LimitsProbe.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <system_error>

#include "driver/machine/AvailableMemory.h"
#include "driver/machine/ProbeTeam.h"
#include "driver/machine/ProbeTimings.h"
#include "strings/MemoryText.h"
#include "support/SecondsSince.h"

namespace {

constexpr std::uint64_t kMinArrayBytes = 4096;
constexpr std::uint64_t kArrayBytesLimit = std::uint64_t{4} << 30;  // slots are 32-bit

// The sizes sorted without repeats; empty when one is out of range.
std::vector<std::uint64_t> ValidSizes(std::vector<std::uint64_t> sizes) {
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    for (const std::uint64_t bytes : sizes)
        if (bytes < kMinArrayBytes || bytes >= kArrayBytesLimit) return {};
    return sizes;
}

// What a probe needs is never told as less than it is.

// "needs 200 MiB of memory, 100 MiB available": the probe's buffers do not fit.
std::string MemoryShortfall(std::uint64_t needed, std::uint64_t available) {
    return "needs " + SLib::WholeMiBText(needed, SLib::Rounding::Up) + " of memory, " +
           SLib::WholeMiBText(available, SLib::Rounding::Down) + " available";
}

unsigned OnlineCpus() {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

CpuLimits Skipped(std::string reason) {
    CpuLimits limits;
    limits.skipped = std::move(reason);
    return limits;
}

}  // namespace

std::uint64_t LimitsProbeBytes(const LimitsProbeOptions& options) {
    const std::vector<std::uint64_t> sizes = ValidSizes(options.arrayBytes);
    return sizes.empty() ? 0 : ProbeBufferBytes(sizes.back());
}

std::uint64_t DataSetProbeBytes(std::uint64_t records) {
    LimitsProbeOptions options;
    options.arrayBytes = {records * sizeof(std::uint32_t)};
    return LimitsProbeBytes(options);
}

DataSetLimits ProbeDataSetLimits(std::uint64_t records, const LimitsProbeOptions& options) {
    const auto started = std::chrono::steady_clock::now();
    LimitsProbeOptions own = options;
    own.arrayBytes = {records * sizeof(std::uint32_t)};
    DataSetLimits limits;
    limits.records = records;
    const auto skip = [&](std::string reason) {
        limits.skipped = std::move(reason);
        limits.seconds = AppCore::SecondsSince(started);
        return limits;
    };
    const std::vector<std::uint64_t> sizes = ValidSizes(own.arrayBytes);
    if (sizes.empty()) return skip("index arrays must lie between 4 KiB and 4 GiB");
    const std::uint64_t needed = LimitsProbeBytes(own);
    const std::uint64_t available = own.availableBytes.value_or(AvailableMemoryBytes());
    if (needed > available) return skip(MemoryShortfall(needed, available));
    ProbeBuffers buffers(sizes.back());
    if (!buffers.Complete()) return skip("cannot allocate " + SLib::WholeMiBText(needed, SLib::Rounding::Up));
    const unsigned cpus = own.cpus > 0 ? own.cpus : OnlineCpus();
    try {
        ProbeTeam team(cpus);
        limits.cpus = cpus;
        limits.repeats = std::max(own.repeats, 1u);
        limits.wideKeys = TimeWideCopy(buffers, team, limits.repeats, sizes.back());
        if (own.pairFigures) limits.pairs = TimePairFigures(buffers, team, limits.repeats, records);
        limits.indexArrays = TimeArrayFigures(buffers, team, limits.repeats, sizes.back());
    } catch (const std::system_error& error) {
        return skip("cannot start " + std::to_string(cpus) + " threads: " + error.what());
    }
    limits.seconds = AppCore::SecondsSince(started);
    return limits;
}

CpuLimits ProbeCpuLimits(const LimitsProbeOptions& options) {
    const std::vector<std::uint64_t> sizes = ValidSizes(options.arrayBytes);
    if (sizes.empty()) return Skipped("array sizes must lie between 4 KiB and 4 GiB");
    const std::uint64_t needed = LimitsProbeBytes(options);
    const std::uint64_t available = options.availableBytes.value_or(AvailableMemoryBytes());
    if (needed > available) return Skipped(MemoryShortfall(needed, available));

    ProbeBuffers buffers(sizes.back());
    if (!buffers.Complete()) return Skipped("cannot allocate " + SLib::WholeMiBText(needed, SLib::Rounding::Up));
    const unsigned cpus = options.cpus > 0 ? options.cpus : OnlineCpus();
    try {
        ProbeTeam team(cpus);
        CpuLimits limits;
        limits.cpus = cpus;
        limits.repeats = std::max(options.repeats, 1u);
        for (const std::uint64_t bytes : sizes)
            limits.arrays.push_back(TimeArrayFigures(buffers, team, limits.repeats, bytes));
        return limits;
    } catch (const std::system_error& error) {
        return Skipped("cannot start " + std::to_string(cpus) + " threads: " + error.what());
    }
}
