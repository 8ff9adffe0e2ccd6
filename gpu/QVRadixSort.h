#pragma once

// The GPU radix sorter: a GPU compute core that fills an index permutation of
// 32- or 64-bit keys with three compute shaders per 8-bit digit (counting,
// partition, scattering), all passes recorded into one command buffer.
//
// The result equals the CPU radix sort's byte for byte: ascending sort key
// (signed integers with the sign bit flipped; floats with every bit inverted
// when the sign is set, else the sign bit flipped), equal keys in ascending
// starting position.
//
// Use: construct (starts the core; its report's lines go to
// Options::core.report, nowhere without one), Init() once, then
// any number of Sort + WaitToFinish pairs, each Sort followed by its
// WaitToFinish before the next Sort. One thread; one sorter per process (the
// core's dispatch table is global).
//
// Sorting writes nothing to the console: Sort, WaitToFinish and Execute note
// their progress lines in a log that the caller takes (TakeProgress) and
// prints when its timing is done.

#include <array>
#include <cstdint>
#include <string>

#include "gpu/OwnedHandle.h"
#include "gpu/QVEvalCore.h"
#include "support/DataTypes.h"

namespace QVEvalCore {

// How a sorter starts (QVRadixSort::Options).
struct SorterOptions {
    CoreOptions core;
    // Scattering ranks equal digits with subgroup ballots, K keys per
    // invocation, where the device can (QVRadixSort::CanRankWithBallots), or
    // with shared bit masks, one key per invocation: slower, but it needs no
    // subgroup operation and half the shared memory. False chooses the masks
    // everywhere.
    bool allowBallotRanking = true;
};

class QVRadixSort : public virtual QVCore {
public:
    // Data type codes, as the shaders' specialization constant takes them: the
    // program's table of data types holds them, the shaders' header restates
    // them for GLSL, and a mismatch does not build.
    static constexpr int32_t kTypeBIGFLOAT = AppCore::FactsOf(AppCore::DataType::BIGFLOAT).gpuCode;
    static constexpr int32_t kTypeBIGINT = AppCore::FactsOf(AppCore::DataType::BIGINT).gpuCode;
    static constexpr int32_t kTypeFLOAT = AppCore::FactsOf(AppCore::DataType::FLOAT).gpuCode;
    static constexpr int32_t kTypeINT = AppCore::FactsOf(AppCore::DataType::INT).gpuCode;
    static_assert(kTypeBIGFLOAT == SORT_TYPE_BIGFLOAT && kTypeBIGINT == SORT_TYPE_BIGINT &&
                  kTypeFLOAT == SORT_TYPE_FLOAT && kTypeINT == SORT_TYPE_INT);

    // Counting and scattering workgroups per pass; the shaders cut [0, n) into
    // this many chunks and the counter tables have one row per workgroup. This
    // and the two sizes below are what device selection checks (SortNeeds).
    static constexpr uint32_t kDefaultWorkgroupCount = SortNeeds::kWorkgroupCount;
    static constexpr uint32_t kDigitBits = SORT_DIGIT_BITS;
    // 4 timestamps for each pass of a 64-bit key.
    static constexpr uint32_t kQueryCapacity = 4 * (64 / kDigitBits);
    static constexpr uint32_t kPushConstantBytes = SortNeeds::kPushConstantBytes;
    static constexpr uint32_t kBlockBytes = SortNeeds::kInlineUniformBlockBytes;  // the inline uniform block
    // Shared memory of the scattering build that ranks with subgroup ballots:
    // a position per digit and rows of packed digit counts.
    static constexpr uint32_t kBallotRankingSharedBytes = SORT_BALLOT_SCRATCH_WORDS * 4;
    // Per-buffer limits are kept multiples of this: every key size, index size
    // and nonCoherentAtomSize (a power of two of at most 256) divides it.
    static constexpr uint64_t kBufferSizeGranule = 256;

    struct ScratchRegion {
        uint64_t offset = 0;
        uint64_t size = 0;
    };

    using Options = SorterOptions;

    // How the latest sort is laid out on the device: what tests and the GPU
    // benchmark inspect. Zeros and null handles before the first sort.
    struct Layout {
        bool large = false;  // the keys span several key buffers
        // The passes recorded; pass p wrote timestamps 4p to 4p + 3.
        uint32_t firstPass = 0;
        uint32_t endPass = 0;
        size_t keyBuffers = 0;
        size_t indexBuffersA = 0;
        size_t indexBuffersB = 0;
        std::array<uint32_t, SORT_BLOCK_WORDS> block{};  // the inline uniform block
        // The scratch buffer, laid out once at the first sort.
        vk::Buffer scratch;
        size_t scratchBuffers = 0;
        uint64_t scratchSize = 0;
        ScratchRegion countRegion;
        ScratchRegion offsetRegion;
        ScratchRegion addressRegion;
        vk::QueryPool queryPool;
        uint32_t queryCount = 0;
    };

    // Starts the core under the name "QVRadixSort"; see QVCore's constructor
    // for what it throws and prints. Then lowers the device's maxAllocation to
    // what a sort can bind: the largest multiple of kBufferSizeGranule within
    // both the allocation limit and maxStorageBufferRange, so that every key
    // buffer can be bound whole and key and index buffers split alike.
    explicit QVRadixSort(const Options& options = {});
    // Waits for a pending submission, then releases the buffer groups, the
    // query pool and the fence; the core's destructor releases the rest.
    ~QVRadixSort() override;

    // Submit a sort of n keys; the permutation reaches `indices` (n entries) in
    // WaitToFinish. The keys may be reused once Sort returns (the upload is
    // complete). initIndices true starts from 0 .. n-1; false starts from the n
    // entries `indices` holds, each of which must be below n.
    // Throws std::runtime_error when the sorter is not initialised or the sort
    // does not fit the device (n of 2^32 or more, or more than 8 buffers in a
    // group), std::logic_error when the previous sort was not waited for,
    // std::invalid_argument for a starting entry not below n, and the core's
    // errors for Vulkan failures. A throw before the submission leaves nothing
    // pending.
    void Sort(const int32_t* keys, unsigned long n, uint32_t* indices, bool initIndices);
    void Sort(const float* keys, unsigned long n, uint32_t* indices, bool initIndices);
    void Sort(const int64_t* keys, unsigned long n, uint32_t* indices, bool initIndices);
    void Sort(const double* keys, unsigned long n, uint32_t* indices, bool initIndices);

    // Blocks until the submitted sort is done, sets GpuTimeMs (first to last
    // timestamp) and copies the permutation into the caller's `indices`.
    // Without a pending sort notes "Nothing to wait for..." and changes nothing.
    void WaitToFinish();

    // Records and submits the latest sort again with all passes, re-uploading
    // the keys from the pointer the latest Sort was given (still the caller's).
    void Execute();

    // The progress lines noted since the last call, each ending in a line
    // break, in order: "Created Pipeline for <type>[, LARGE]" when the
    // pipelines are rebuilt, "Updated Storage Buffers", "Updated Descriptor
    // Sets" and "Submitted Command Buffer" from a sort; "Waiting for fence...",
    // "  > Total GPU Time:   <ms> ms" and "Command Finished!" from its wait.
    // The log is emptied; it grows until taken.
    std::string TakeProgress();

    // A sort was submitted and not yet waited for.
    bool Pending() const { return submitted; }
    // GPU time of the latest finished sort, from its timestamps.
    double GpuTimeMs() const { return gpuTimeMs; }
    // Init chose the scattering build that ranks with subgroup ballots.
    bool RanksWithBallots() const { return ranksWithBallots; }
    Layout LatestLayout() const;

    // True when compute shaders have subgroup ballots and shuffles and the
    // device has kBallotRankingSharedBytes of shared memory.
    static bool CanRankWithBallots(const vk::PhysicalDeviceSubgroupProperties& subgroups,
                                   const vk::PhysicalDeviceLimits& limits);

    // "BIGFLOAT", "BIGINT", "FLOAT", "INT" for codes 0 to 3, "NONE" otherwise.
    static std::string TypeName(int32_t code);
    // Key buffers a sort of n keys of keyBytes needs under maxAllocation bytes
    // per buffer (1 for n = 0: the shaders' bindings always need a buffer).
    static uint64_t KeyBuffersFor(uint64_t n, uint64_t keyBytes, uint64_t maxAllocation);

protected:
    // Init's steps: the descriptor set layouts (SortBuffers.cpp), then the
    // pipeline layout and the shader modules (SortPipelines.cpp).
    bool CreateDescriptorSets() override;
    bool CreatePipelineLayout() override;
    bool CreatePipelines() override;

private:
    // Checks the limits, sets the per-sort fields and runs the sort's steps.
    void SortKeys(const void* keyData, unsigned long n, uint32_t* indexData, bool init, int32_t type,
                  uint32_t bytesPerKey);
    // The steps of every submission, the four below in order.
    void SubmitPasses();
    // SortPipelines.cpp: rebuilds the three pipelines when `large` or
    // `dataType` differs from what they were built for.
    void UpdatePipelines();
    // SortBuffers.cpp: the scratch buffer and the query pool at the first
    // sort, the key and index groups anew at every sort.
    void UpdateStorageBuffers();
    // SortBuffers.cpp: the address table, the storage-buffer descriptors and
    // the inline block.
    void UpdateDescriptorSets();
    // SortCommands.cpp: records all passes with their timestamps and submits
    // them with `fence`; WaitToFinish is its other half.
    void RecordCommandBuffer();

    const uint32_t workgroupCount = kDefaultWorkgroupCount;
    const bool allowBallotRanking;
    bool ranksWithBallots = false;
    // What the pipelines were built for.
    uint32_t builtLarge = 0;
    int32_t builtType = -1;

    // The latest sort.
    uint32_t large = 0;
    int32_t dataType = -1;
    const void* keys = nullptr;   // caller's keys, not owned
    uint32_t* indices = nullptr;  // caller's output, not owned
    bool initIndices = true;
    uint32_t keyBytes = 0;
    uint32_t keyBits = 0;
    uint64_t recordCount = 0;
    uint32_t passCount = 0;
    uint32_t firstPass = 0;
    uint32_t endPass = 0;
    uint32_t blockData[SORT_BLOCK_WORDS] = {0, 0, 0};  // n, keys per key buffer, bytes per key buffer (mod 2^32)

    ScratchRegion countRegion;
    ScratchRegion offsetRegion;
    ScratchRegion addressRegion;
    uint64_t scratchSize = 0;  // 0: scratch buffer not laid out yet
    BufferGroup keyGroup;
    BufferGroup scratchGroup;
    BufferGroup indexGroupA;
    BufferGroup indexGroupB;

    Owned<vk::QueryPool> queryPool;
    uint32_t queryCount = 0;
    double gpuTimeMs = 0.0;
    Owned<vk::Fence> fence;
    bool submitted = false;

    std::string progress;  // lines noted since the last TakeProgress
};

}  // namespace QVEvalCore
