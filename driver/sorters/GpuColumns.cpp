#include "driver/sorters/GpuColumns.h"

#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <utility>

#include "gpu/DeviceLimits.h"
#include "gpu/QVRadixSort.h"
#include "support/DataTypes.h"

GpuColumns::GpuColumns(const std::string& shaderPath, const Seams& seams, Say say)
    : inspectResult(seams.inspectResult), say(std::move(say)) {
    QVEvalCore::QVCore::shaderPath = shaderPath;
    QVEvalCore::QVRadixSort::Options options;
    options.core.allowCpuDevices = seams.allowCpuDevices;
    options.core.report = [this](const std::string& line) { report += line + "\n"; };
    try {
        sorter = std::make_unique<QVEvalCore::QVRadixSort>(options);
        sorter->Init();
    } catch (const std::exception& error) {
        // Part of the GPU report ("Failed to load vulkan library!" on a machine
        // without Vulkan); the CPU columns run on regardless.
        unavailable = error.what();
        report += unavailable + "\n";
    }
    if (!unavailable.empty()) return;
    // Why the start-up or Init stopped: the line that ends the GPU report.
    report += sorter->Failure();
    if (!sorter->VulkanReady()) {
        unavailable = "no Vulkan GPU with the required features";
    } else if (!sorter->PipelinesReady()) {
        unavailable = "the sort shaders could not be loaded from " + shaderPath;
    }
}

GpuColumns::~GpuColumns() = default;

void GpuColumns::SayProgress() {
    const std::string progress = sorter->TakeProgress();
    if (!progress.empty() && say) say(progress);
}

template <typename Sort>
bool GpuColumns::Guarded(const char* typeName, std::uint64_t count, Sort sort) {
    try {
        sort();
        return true;
    } catch (const std::bad_alloc&) {
        SayProgress();
        throw;
    } catch (const std::exception& error) {
        SayProgress();
        if (say)
            say("GPU sort of " + std::to_string(count) + " " + typeName + " records failed: " + error.what() + "\n");
        return false;
    }
}

template <typename Element>
bool GpuColumns::WarmUp(const char* typeName, const Element* values, std::uint64_t count, std::uint32_t* permutation) {
    return Guarded(typeName, count, [&] {
        sorter->Sort(values, count, permutation, true);
        sorter->WaitToFinish();
        SayProgress();
    });
}

template <typename Element>
std::optional<GpuColumns::Times> GpuColumns::TimedSort(const char* typeName, const Element* values, std::uint64_t count,
                                                       AppCore::CharBuffer& indices, AppTimer& timer) {
    auto* permutation = reinterpret_cast<std::uint32_t*>(indices.data);
    Times times{};
    const bool sorted = Guarded(typeName, count, [&] {
        if (count != 0) std::memset(indices.data, 0, count * sizeof(std::uint32_t));
        timer.restart();
        sorter->Sort(values, count, permutation, true);
        sorter->WaitToFinish();
        times = {timer.elapse_millisecond(), sorter->GpuTimeMs()};
        SayProgress();
        if (inspectResult) inspectResult(permutation, count);
    });
    if (!sorted) return std::nullopt;
    return times;
}

GpuLimits GpuColumns::ProbeLimits(const GpuLimitsOptions& options) const {
    GpuLimits limits;
    if (!unavailable.empty()) {
        limits.skipped = "GPU unavailable: " + unavailable;
        return limits;
    }
    return QVEvalCore::ProbeDeviceLimits(*sorter, options);
}

bool GpuColumns::SamePermutation(const AppCore::CharBuffer& cpu, const AppCore::CharBuffer& gpu, std::uint64_t count) {
    // Both sorts are stable and start from 0, 1, 2, ...: the permutations must
    // agree byte for byte, ties included.
    return count == 0 || std::memcmp(cpu.data, gpu.data, count * sizeof(std::uint32_t)) == 0;
}

#define INSTANTIATE(Element)                                                                                    \
    template bool GpuColumns::WarmUp(const char*, const Element*, std::uint64_t, std::uint32_t*);               \
    template std::optional<GpuColumns::Times> GpuColumns::TimedSort(const char*, const Element*, std::uint64_t, \
                                                                    AppCore::CharBuffer&, AppTimer&);
SORTBENCH_FOR_EACH_ELEMENT(INSTANTIATE)
#undef INSTANTIATE
