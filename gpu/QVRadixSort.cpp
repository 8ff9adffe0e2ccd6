// The sorter's life and its entry points: the checks a sort must pass before
// anything reaches the device, and the steps every submission runs.
#include "gpu/QVRadixSort.h"

#include <algorithm>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace QVEvalCore {

namespace {

// Indices and digit counters are 32-bit, as in the CPU sort.
constexpr uint64_t kMaxRecords = std::numeric_limits<uint32_t>::max();

template <typename Element>
constexpr const AppCore::DataTypeFacts& FactsFor() {
    return AppCore::FactsOf(AppCore::DataTypeOf<Element>());
}

}  // namespace

QVRadixSort::QVRadixSort(const Options& options)
    : QVCore("QVRadixSort", options.core), allowBallotRanking(options.allowBallotRanking) {
    if (!VulkanReady()) {
        return;
    }
    // A key buffer is bound whole as a storage buffer, so it may not exceed
    // maxStorageBufferRange (128 MiB on some devices, 4 GiB - 1 on others).
    // A multiple of kBufferSizeGranule keeps the core's round-up of buffer sizes
    // to nonCoherentAtomSize inside the range and every key and index split
    // on the same byte boundary.
    const PhysicalDeviceInfo& device = SelectedPhysicalDevice();
    uint64_t limit = std::min<uint64_t>(device.maxAllocation, device.limits.maxStorageBufferRange);
    limit -= limit % kBufferSizeGranule;
    LimitAllocation(limit);
}

QVRadixSort::~QVRadixSort() {
    const vk::Device device = SelectedDevice().device;
    if (!device) {
        return;
    }
    if (submitted) {
        // Freeing memory the GPU still uses is undefined; only an exception
        // between Sort and WaitToFinish gets here.
        try {
            device.waitIdle();
        } catch (const vk::SystemError&) {}
    }
    for (BufferGroup* group : {&keyGroup, &scratchGroup, &indexGroupA, &indexGroupB}) {
        group->Clear(device);
    }
}

void QVRadixSort::Sort(const int32_t* keyData, unsigned long n, uint32_t* indexData, bool init) {
    SortKeys(keyData, n, indexData, init, FactsFor<int32_t>().gpuCode, FactsFor<int32_t>().keyBytes);
}

void QVRadixSort::Sort(const float* keyData, unsigned long n, uint32_t* indexData, bool init) {
    SortKeys(keyData, n, indexData, init, FactsFor<float>().gpuCode, FactsFor<float>().keyBytes);
}

void QVRadixSort::Sort(const int64_t* keyData, unsigned long n, uint32_t* indexData, bool init) {
    SortKeys(keyData, n, indexData, init, FactsFor<int64_t>().gpuCode, FactsFor<int64_t>().keyBytes);
}

void QVRadixSort::Sort(const double* keyData, unsigned long n, uint32_t* indexData, bool init) {
    SortKeys(keyData, n, indexData, init, FactsFor<double>().gpuCode, FactsFor<double>().keyBytes);
}

void QVRadixSort::SortKeys(const void* keyData, unsigned long n, uint32_t* indexData, bool init, int32_t type,
                           uint32_t bytesPerKey) {
    if (!PipelinesReady()) {
        throw std::runtime_error("GPU sort: the GPU sorter is not initialised");
    }
    if (submitted) {
        throw std::logic_error("GPU sort: the previous sort was not waited for (WaitToFinish)");
    }
    if (n > kMaxRecords) {
        throw std::runtime_error("GPU sort of " + std::to_string(n) + " keys: at most " + std::to_string(kMaxRecords) +
                                 " keys fit 32-bit indices");
    }
    const uint64_t maxAllocation = SelectedPhysicalDevice().maxAllocation;
    const uint32_t maxStorageBuffers = MaxStorageBuffers();
    const uint64_t keyBuffers = KeyBuffersFor(n, bytesPerKey, maxAllocation);
    if (keyBuffers > maxStorageBuffers) {
        throw std::runtime_error("GPU sort of " + std::to_string(n) + " " + TypeName(type) + " keys: needs more than " +
                                 std::to_string(maxStorageBuffers) + " buffers of at most " +
                                 std::to_string(maxAllocation) + " bytes");
    }
    // The shaders split the index buffers where the key buffers end in bytes;
    // the index group splits at maxAllocation / 4 indices. Both agree when the
    // limit is a multiple of the key size, as the constructor makes it.
    if (keyBuffers > 1 && (maxAllocation / bytesPerKey * bytesPerKey) / 4 != maxAllocation / 4) {
        throw std::runtime_error("GPU sort: a maximum allocation of " + std::to_string(maxAllocation) +
                                 " bytes is not a multiple of the key size");
    }
    if (!init) {
        for (unsigned long i = 0; i < n; ++i) {
            if (indexData[i] >= n) {
                throw std::invalid_argument("GPU sort: starting index " + std::to_string(indexData[i]) +
                                            " at position " + std::to_string(i) + " is not below " + std::to_string(n));
            }
        }
    }

    dataType = type;
    keys = keyData;
    indices = indexData;
    initIndices = init;
    recordCount = n;
    keyBytes = bytesPerKey;
    keyBits = bytesPerKey * 8;
    passCount = endPass = keyBits / kDigitBits;
    firstPass = 0;
    large = maxAllocation / keyBytes < n ? 1 : 0;
    SubmitPasses();
}

void QVRadixSort::Execute() {
    if (dataType < 0 || keyGroup.buffers.empty()) {
        throw std::logic_error("GPU sort: Execute needs a previous Sort");
    }
    if (submitted) {
        throw std::logic_error("GPU sort: the previous sort was not waited for (WaitToFinish)");
    }
    passCount = endPass = keyBits / kDigitBits;
    firstPass = 0;
    SubmitPasses();
}

void QVRadixSort::SubmitPasses() {
    UpdatePipelines();
    UpdateStorageBuffers();
    UpdateDescriptorSets();
    RecordCommandBuffer();
}

std::string QVRadixSort::TakeProgress() { return std::exchange(progress, std::string()); }

std::string QVRadixSort::TypeName(int32_t code) {
    const AppCore::DataTypeFacts* facts = AppCore::FactsOfGpuCode(code);
    return facts == nullptr ? "NONE" : facts->name;
}

}  // namespace QVEvalCore
