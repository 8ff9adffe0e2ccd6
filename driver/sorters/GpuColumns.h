#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "driver/machine/GpuLimits.h"
#include "driver/measuring/AppTimer.h"
#include "support/CharBuffer.h"

namespace QVEvalCore {
class QVRadixSort;
}

// What whole-run tests pass to the GPU columns (GpuColumns::Seams); a run of
// the program leaves both at their defaults.
struct GpuSeams {
    // Lets the core select a software (Cpu) device.
    bool allowCpuDevices = false;
    // When set, sees (and may change) each timed GPU permutation before the QA
    // comparison; an exception it throws counts as a failed sort.
    std::function<void(std::uint32_t* permutation, std::uint64_t count)> inspectResult;
};

// The run's GPU sorter and what the three GPU columns of a data set measure:
// "GPU" (host wall time of a whole sort), "GPU On Card" (the sort's GPU
// timestamps) and "GPU Transfer" (their difference), and with "-QA" the byte
// comparison of the GPU permutation with the CPU radix sort's.
class GpuColumns {
public:
    using Seams = GpuSeams;

    // What the columns say as they sort, one or more lines each ending in a
    // line break: the sorter's progress and why a sort failed, for a reporter.
    using Say = std::function<void(const std::string& lines)>;

    // Sets the core's shader directory, constructs the sorter (which writes the
    // GPU report into Report()) and initialises it. Never throws: a core that
    // cannot start (no Vulkan loader, no usable device, shaders missing) leaves
    // the object with Unavailable() saying why. `say` hears the lines of the
    // sorts, between them and never inside a timed section.
    explicit GpuColumns(const std::string& shaderPath, const Seams& seams = {}, Say say = nullptr);

    // The GPU report's lines, each ending in a line break, for a reporter to
    // print: the core's start-up, then why it stopped, if it did.
    const std::string& Report() const { return report; }
    // Destroys the sorter, which releases every Vulkan object.
    ~GpuColumns();
    GpuColumns(const GpuColumns&) = delete;
    GpuColumns& operator=(const GpuColumns&) = delete;

    // Empty when GPU sorts can run; otherwise the reason they cannot.
    const std::string& Unavailable() const { return unavailable; }

    // The two times of one GPU sort; the transfer time is their difference.
    struct Times {
        double hostMs;    // wall time of the whole sort, uploads and read-back included
        double onCardMs;  // the sort's GPU timestamps
    };

    // One untimed sort into `permutation`, then the sorter's progress lines.
    // False after one line saying why it failed; both go to `say`.
    template <typename Element>
    bool WarmUp(const char* typeName, const Element* values, std::uint64_t count, std::uint32_t* permutation);

    // Zeroes `indices` (4 * count bytes), then one timed sort into it; the
    // sorter's progress lines are said once the timer has stopped. Nothing
    // after one line saying why the sort failed.
    template <typename Element>
    std::optional<Times> TimedSort(const char* typeName, const Element* values, std::uint64_t count,
                                   AppCore::CharBuffer& indices, AppTimer& timer);

    // The device limits probe (gpu/DeviceLimits.h) on the sorter's device;
    // call it between sorts. Never prints; never throws for a probe that cannot
    // run: `skipped` says why, "GPU unavailable: <reason>" when Unavailable().
    GpuLimits ProbeLimits(const GpuLimitsOptions& options = {}) const;

    // True when `gpu` holds exactly the permutation of `cpu` (4 * count bytes each).
    static bool SamePermutation(const AppCore::CharBuffer& cpu, const AppCore::CharBuffer& gpu, std::uint64_t count);

private:
    // Runs `sort`; a failure other than memory becomes one line and false.
    // The progress lines noted so far come first either way.
    template <typename Sort>
    bool Guarded(const char* typeName, std::uint64_t count, Sort sort);
    // Says the progress lines the sorter noted since the last call.
    void SayProgress();

    std::string report;  // before the sorter: its start-up writes here
    std::unique_ptr<QVEvalCore::QVRadixSort> sorter;
    std::string unavailable;
    std::function<void(std::uint32_t* permutation, std::uint64_t count)> inspectResult;
    Say say;
};
