#include "driver/GpuColumns.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "gpu/QVRadixSort.h"

GpuColumns::GpuColumns(const std::string& shaderPath) {
    QVEvalCore::QVCore::ShaderPath = shaderPath;
    try {
        sorter = std::make_unique<QVEvalCore::QVRadixSort>();
        sorter->Init();
    } catch (const std::exception& error) {
        // Part of the GPU report ("Failed to load vulkan library!" on a machine
        // without Vulkan); the CPU columns run on regardless.
        unavailable = error.what();
        std::printf("%s\n", unavailable.c_str());
    }
    if (!unavailable.empty()) return;
    if (!sorter->vulkanReady) {
        unavailable = "no Vulkan GPU with the required features";
    } else if (!sorter->pipelinesReady) {
        unavailable = "the sort shaders could not be loaded from " + shaderPath;
    }
}

GpuColumns::~GpuColumns() = default;

template <typename Element>
bool GpuColumns::Run(const char* typeName, const Element* values, std::uint64_t count, AppCore::CharBuffer& indices,
                     AppTimer& timer, ResultFiles& results, bool qaEnabled) {
    const std::uint64_t bytes = count * sizeof(std::uint32_t);
    AppCore::CharBuffer cpuReference;
    if (qaEnabled) {
        cpuReference = std::move(indices);
        indices.Resize(bytes);
    }
    auto* permutation = reinterpret_cast<std::uint32_t*>(indices.data);

    double gpuMs = 0;
    double onCardMs = 0;
    try {
        sorter->Sort(values, count, permutation, true);  // warm-up
        sorter->WaitToFinish();
        if (bytes != 0) std::memset(indices.data, 0, bytes);
        timer.restart();
        sorter->Sort(values, count, permutation, true);
        sorter->WaitToFinish();
        gpuMs = timer.elapse_millisecond();
        onCardMs = sorter->gpuTimeMs;
        if (InspectResult) InspectResult(permutation, count);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& error) {
        std::printf("GPU sort of %" PRIu64 " %s records failed: %s\n", count, typeName, error.what());
        return false;
    }

    const double transferMs = gpuMs - onCardMs;
    std::printf("%s GPU - %f ms\n", typeName, gpuMs);
    std::printf("%s GPU_On_Card - %f ms\n", typeName, onCardMs);
    std::printf("%s GPU_Transfer - %f ms\n", typeName, transferMs);
    results.AppendTime(typeName, gpuMs);
    results.AppendTime(typeName, onCardMs);
    results.AppendTime(typeName, transferMs);

    if (qaEnabled) {
        // Both sorts are stable and start from 0, 1, 2, ...: the permutations
        // must agree byte for byte, ties included.
        if (bytes != 0 && std::memcmp(cpuReference.data, indices.data, bytes) != 0) {
            std::printf("QA ERROR: GPU Results do not match CPU Results\n");
            std::printf("ABORTING BENCH TEST\n");
            return false;
        }
        std::printf("QA Test Passed: CPU & GPU Numbers match\n");
    }
    return true;
}

template bool GpuColumns::Run(const char*, const std::int32_t*, std::uint64_t, AppCore::CharBuffer&, AppTimer&,
                              ResultFiles&, bool);
template bool GpuColumns::Run(const char*, const float*, std::uint64_t, AppCore::CharBuffer&, AppTimer&, ResultFiles&,
                              bool);
template bool GpuColumns::Run(const char*, const std::int64_t*, std::uint64_t, AppCore::CharBuffer&, AppTimer&,
                              ResultFiles&, bool);
template bool GpuColumns::Run(const char*, const double*, std::uint64_t, AppCore::CharBuffer&, AppTimer&,
                              ResultFiles&, bool);
