#include "driver/machine/LimitsText.h"

#include <charconv>
#include <cmath>
#include <set>

#include "strings/MemoryText.h"
#include "strings/SignificantDigits.h"

namespace {

using SLib::ThreeSignificantDigits;

using SLib::kKiB;
using SLib::SizeText;

struct FigureFacts {
    double AccessRates::*rate;
    const char* line;  // the text line's label, unit included
    const char* key;   // the context key's figure
    double unit;       // per second in the line's unit
};

constexpr FigureFacts kFigures[] = {
    {&AccessRates::copyBytes, "sequential copy (GB/s read + written)", "copy_bytes", 1e9},
    {&AccessRates::loads4, "random 4-byte loads (M/s)", "loads4", 1e6},
    {&AccessRates::loads8, "random 8-byte loads (M/s)", "loads8", 1e6},
    {&AccessRates::stores256, "4-byte stores into 256 fronts (M/s)", "stores256", 1e6},
    {&AccessRates::stores65536, "4-byte stores into 65536 fronts (M/s)", "stores65536", 1e6},
    {&AccessRates::moves4, "moves, 4-byte keys into 256 fronts (M/s)", "moves4", 1e6},
    {&AccessRates::moves8, "moves, 8-byte keys into 65536 fronts (M/s)", "moves8", 1e6},
};

std::string ThreadsText(unsigned threads) { return std::to_string(threads) + (threads == 1 ? " thread" : " threads"); }

std::string SizeKey(std::uint64_t bytes) {
    if (bytes % SLib::kMiB == 0) return std::to_string(bytes / SLib::kMiB) + "MiB";
    if (bytes % kKiB == 0) return std::to_string(bytes / kKiB) + "KiB";
    return std::to_string(bytes) + "B";
}

std::string WholeNumber(double value) {
    return std::isfinite(value) && value >= 0 ? std::to_string(std::llround(value)) : "0";
}

std::string SkipReason(const std::string& skipped) { return skipped.empty() ? "not probed" : skipped; }

// `value` with `decimals` decimals, whatever the locale.
std::string Fixed(double value, int decimals) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::isfinite(value) ? value : 0.0,
                                      std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

std::string GigabytesPerSecond(double bytesPerSecond) { return ThreeSignificantDigits(bytesPerSecond / 1e9) + " GB/s"; }

}  // namespace

std::vector<std::string> LimitsLines(const CpuLimits& limits) {
    if (!limits.Measured()) return {std::string("Limits: not measured: ").append(SkipReason(limits.skipped))};
    const bool several = limits.cpus > 1;
    std::string sizes;
    for (const ArrayLimits& array : limits.arrays) sizes += (sizes.empty() ? "" : ", ") + SizeText(array.arrayBytes);
    std::vector<std::string> lines{"Limits: best of " + std::to_string(limits.repeats) + ", " + ThreadsText(1) +
                                   (several ? std::string("/").append(ThreadsText(limits.cpus)) : std::string()) +
                                   ", for index arrays of " + sizes};
    for (const FigureFacts& figure : kFigures) {
        std::string line = std::string("Limits: ") + figure.line + ": ";
        for (std::size_t i = 0; i < limits.arrays.size(); ++i) {
            const ArrayLimits& array = limits.arrays[i];
            if (i > 0) line += ", ";
            line += ThreeSignificantDigits(array.oneThread.*figure.rate / figure.unit);
            if (several) {
                line += '/';
                line += ThreeSignificantDigits(array.allCpus.*figure.rate / figure.unit);
            }
        }
        lines.push_back(line);
    }
    return lines;
}

std::string OwnSizePricingLine(std::uint64_t smallestBytes) {
    return "Limits: a run prices each data set at its own array sizes, probed around its sorts (index arrays "
           "of " +
           SizeText(smallestBytes) + " or more)";
}

std::string OwnSizeProbesLine(const std::vector<DataSetLimits>& probes, double runSeconds) {
    double seconds = 0;
    std::set<std::uint64_t> measuredCounts;
    std::set<std::uint64_t> skippedCounts;
    std::string skipped;
    // A count is probed again after each of its data sets: each is named once, the first reason it was skipped with.
    for (const DataSetLimits& probe : probes) {
        seconds += probe.seconds;
        if (probe.Measured()) {
            measuredCounts.insert(probe.records);
        } else if (skippedCounts.insert(probe.records).second) {
            skipped += "; not for " + std::to_string(probe.records) + " records: " + SkipReason(probe.skipped);
        }
    }
    const std::size_t measured = measuredCounts.size();
    const double percent = runSeconds > 0 ? 100.0 * seconds / runSeconds : 0.0;
    return "Limits: data sets priced at their own sizes, probed for " + std::to_string(measured) + " record count" +
           (measured == 1 ? "" : "s") + " in " + Fixed(seconds, 2) + " s, " + Fixed(percent, 1) + "% of the run's " +
           Fixed(runSeconds, 1) + " s" + skipped;
}

std::vector<std::pair<std::string, std::string>> LimitsContextFields(const CpuLimits& limits) {
    if (!limits.Measured()) return {{"limits", std::string("skipped: ").append(SkipReason(limits.skipped))}};
    std::vector<std::pair<std::string, std::string>> fields{
        {"limits", "measured"},
        {"limits_cpus", std::to_string(limits.cpus)},
        {"limits_repeats", std::to_string(limits.repeats)},
    };
    for (const ArrayLimits& array : limits.arrays)
        for (const FigureFacts& figure : kFigures) {
            const std::string key = std::string("limits_") + figure.key + "_per_second_" + SizeKey(array.arrayBytes);
            fields.emplace_back(key + "_1t", WholeNumber(array.oneThread.*figure.rate));
            if (limits.cpus > 1)
                fields.emplace_back(key + "_" + std::to_string(limits.cpus) + "t",
                                    WholeNumber(array.allCpus.*figure.rate));
        }
    return fields;
}

std::string HugePagesLine(const std::optional<ProcessMemory>& largest) {
    if (!largest) return "Huge pages: unknown (no /proc/self/smaps_rollup)";
    const std::uint64_t percent =
        largest->anonymousBytes == 0
            ? 0
            : (largest->hugePageBytes * 100 + largest->anonymousBytes / 2) / largest->anonymousBytes;
    return "Huge pages: " + SLib::WholeMiBText(largest->hugePageBytes, SLib::Rounding::Down) + " of " +
           SLib::WholeMiBText(largest->anonymousBytes, SLib::Rounding::Down) + " of anonymous memory (" +
           std::to_string(percent) + "%), at the largest data set";
}

std::vector<std::string> GpuLimitsLines(const GpuLimits& limits) {
    if (!limits.Measured()) return {"Limits: GPU not measured: " + SkipReason(limits.skipped)};
    return {"Limits: GPU " + limits.device + ": device copy " + GigabytesPerSecond(limits.copyBytes) +
            " read + written, upload " + GigabytesPerSecond(limits.uploadBytes) + ", read-back " +
            GigabytesPerSecond(limits.readBackBytes) + " (buffers of " + SizeText(limits.bufferBytes) + ", best of " +
            std::to_string(limits.repeats) + ")"};
}

std::vector<std::pair<std::string, std::string>> GpuLimitsContextFields(const GpuLimits& limits) {
    if (!limits.Measured()) return {{"gpu_limits", "skipped: " + SkipReason(limits.skipped)}};
    return {
        {"gpu_limits", "measured"},
        {"gpu_limits_device", limits.device},
        {"gpu_limits_buffer_bytes", std::to_string(limits.bufferBytes)},
        {"gpu_limits_repeats", std::to_string(limits.repeats)},
        {"gpu_limits_copy_bytes_per_second", WholeNumber(limits.copyBytes)},
        {"gpu_limits_upload_bytes_per_second", WholeNumber(limits.uploadBytes)},
        {"gpu_limits_read_back_bytes_per_second", WholeNumber(limits.readBackBytes)},
    };
}
