#pragma once

// The GPU compute core: everything Vulkan that one compute client needs, from
// the loader library to buffers, transfers, descriptor sets and shader modules.
// Its calls go through the one dispatch table (VulkanDispatch.h): a process
// holds one live core at a time, created and used on one thread.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "gpu/BufferGroup.h"
#include "gpu/DescriptorSetInfo.h"
#include "gpu/DeviceRecords.h"
#include "gpu/VulkanDispatch.h"
#include "gpu/shaders/sort_constants.h"

namespace QVEvalCore {

// Bytes of mapped staging memory one read-back thread copies at most (25 MiB).
inline constexpr unsigned long kReadBackPieceBytes = 26'214'400;

// The pieces a read-back of `size` bytes is copied out in: ceil(size / 25 MiB)
// contiguous pieces, longer ones first, lengths differing by at most one.
// Returns the pieces + 1 boundaries from 0 to size; size 0 gives {0}.
std::vector<unsigned long> ReadBackBoundaries(unsigned long size);

// How a core chooses its device (QVCore::Options).
struct CoreOptions {
    // Lets software (Cpu) devices through selection, ranked below every GPU,
    // and accepts a device whose only transfer-capable family is its compute
    // family (one queue then serves both). For runs on a software device
    // (tests, the GPU benchmark); the sortbench program never sets it.
    bool allowCpuDevices = false;
    // Where the start-up report's lines go, each without its line break;
    // nowhere when empty. The driver hands them to its console reporter:
    // nothing of the core prints by itself.
    std::function<void(const std::string& line)> report;
};

class QVCore {
public:
    // The device records, buffer groups and descriptor bundles (each in a header
    // of its own), under the names the core's users know them by.
    using PropertyChain = QVEvalCore::PropertyChain;
    using SortNeeds = QVEvalCore::SortNeeds;
    using FeatureChain = QVEvalCore::FeatureChain;
    using PhysicalDeviceInfo = QVEvalCore::PhysicalDeviceInfo;
    using DeviceInfo = QVEvalCore::DeviceInfo;
    using BufferGroup = QVEvalCore::BufferGroup;
    using DescriptorSetInfo = QVEvalCore::DescriptorSetInfo;

    // Empty when `info` (limits and property chain filled) meets SortNeeds,
    // else " - Limit NAME is VALUE, needs at least NEEDED" for the first limit
    // that falls short.
    static std::string SortLimitShortfall(const PhysicalDeviceInfo& info);

    using Options = CoreOptions;

    // Directory of the SPIR-V shader files; set by the driver, read by the sorter.
    static inline std::filesystem::path shaderPath;

    // Runs the start-up: loader, instance, device ranking, logical device 0,
    // printing each step's report lines. A soft failure (no usable device, ...)
    // leaves an object that is not VulkanReady, with Failure() saying why.
    // Throws std::runtime_error "Failed to load vulkan library!" when no loader
    // library opens, and the bindings' vk::SystemError when a Vulkan call
    // fails; before any throw leaves, everything created so far is released,
    // so a caller may catch and go on without a GPU.
    explicit QVCore(const std::string& name, const Options& options = {});
    // Releases every Vulkan object the core or a derived class created and
    // closes the loader library, then empties the dispatch table.
    virtual ~QVCore();
    QVCore(const QVCore&) = delete;
    QVCore& operator=(const QVCore&) = delete;

    // Builds the client's descriptor sets, pipeline layout and pipelines through
    // the three virtual operations, in that order, stopping at the first false
    // (Failure() then says why, where the client said so). False at once,
    // silently, when the start-up did not succeed.
    bool Init();

    // The lines saying why the start-up or Init stopped, each ending in a line
    // break; empty while nothing failed. They are no part of the printed
    // report: the caller prints them where the report stops.
    const std::string& Failure() const { return failure; }

    // The start-up succeeded: device 0 is selected and has its logical device.
    bool VulkanReady() const { return vulkanReady; }
    // Init succeeded.
    bool PipelinesReady() const { return pipelinesReady; }
    vk::Instance Instance() const { return instance; }
    uint32_t InstanceVersion() const { return instanceVersion; }
    // The loader library is held open.
    bool LibraryLoaded() const { return libraryHandle != nullptr; }
    // Accepted devices, best first; index-aligned with Devices().
    const std::vector<PhysicalDeviceInfo>& PhysicalDevices() const { return physicalDevices; }
    const std::vector<DeviceInfo>& Devices() const { return devices; }
    // Device 0 once VulkanReady; empty records before.
    const PhysicalDeviceInfo& SelectedPhysicalDevice() const { return selectedPhysicalDevice; }
    const DeviceInfo& SelectedDevice() const { return selectedDevice; }
    // Storage buffers in the client's variable-size binding.
    uint32_t MaxStorageBuffers() const { return maxStorageBuffers; }
    // What the client built in Init; the core destroys them.
    const std::vector<vk::ShaderModule>& ShaderModules() const { return shaderModules; }
    const std::vector<vk::Pipeline>& Pipelines() const { return pipelines; }

    // Lowers the selected device's largest allocation for one buffer to `bytes`
    // (never raises it); buffer groups split at the new limit.
    void LimitAllocation(uint64_t bytes);

    // Stable ranking: discrete GPUs, then integrated GPUs, then (only present
    // with allowCpuDevices) software devices; within a type, more heap memory first.
    static void RankPhysicalDevices(std::vector<PhysicalDeviceInfo>& list);

    // Lowest memory type of device `index` allowed for `buffer` with every flag
    // of `required`. Throws std::runtime_error when there is none.
    uint32_t SelectMemory(unsigned int index, const vk::Buffer& buffer, vk::MemoryPropertyFlags required) const;
    // Allocates memory for `buffer` of type memoryType with `flags`; not bound.
    // The caller owns the result.
    vk::DeviceMemory AllocMemory(unsigned int index, const vk::Buffer& buffer, unsigned int memoryType,
                                 vk::MemoryAllocateFlags flags) const;
    // Appends ceil(count / (maxAllocation / elementSize)) bound buffers for
    // `count` elements to `group`, all full but the last. Sets elementSize even
    // for count 0. Throws std::invalid_argument when elementSize is 0 or larger
    // than the device's maxAllocation. Buffers completed before a throw stay in
    // the group (Clear releases them); a half-made buffer is released at once.
    void CreateBufferGroup(unsigned int index, unsigned long count, unsigned int elementSize, BufferGroup& group,
                           vk::BufferUsageFlags usage, vk::MemoryPropertyFlags properties,
                           vk::MemoryAllocateFlags allocateFlags) const;

    // Synchronous staged copies on the transfer queue of device `index`: when
    // they return the bytes are in place. target/source need TRANSFER_DST /
    // TRANSFER_SRC usage. Size 0 does nothing. The staging buffer, its memory
    // and the fence are released on every exit, also when a call throws. Not
    // reentrant: they share the device's one transfer command buffer.
    void CopyDataToBuffer(unsigned int index, unsigned long size, const void* source, vk::Buffer target,
                          unsigned long targetOffset) const;
    // The copy out of the staging memory runs on one thread per piece of at most
    // 25 MiB (ReadBackBoundaries), all joined before the call returns.
    void CopyDataFromBuffer(unsigned int index, unsigned long size, void* target, vk::Buffer source,
                            unsigned long sourceOffset) const;
    // Host bytes [0, byteCount) to or from the group's buffers in order, each
    // buffer from its offset 0; stops at byteCount or at the group's end.
    void CopyDataToBufferGroup(unsigned int index, unsigned long byteCount, const void* source,
                               const BufferGroup& group) const;
    void CopyDataFromBufferGroup(unsigned int index, unsigned long byteCount, void* target,
                                 const BufferGroup& group) const;

    // A shader module from a SPIR-V file, or why there is none.
    struct LoadedShader {
        vk::ShaderModule module;  // null when the file does not open or is not SPIR-V
        // For a file that is not SPIR-V, the line that says so; empty otherwise.
        std::string problem;
    };
    // Loads the SPIR-V file at `path`. Prints "Load Shader: <path>" before
    // creating the module. The caller owns the module (normally by handing it
    // to AdoptShaderModule).
    LoadedShader LoadShader(vk::Device device, const char* path, vk::ShaderModuleCreateFlags flags) const;

protected:
    // One line of the start-up report, to Options::report if there is one.
    void Report(const std::string& line) const;

    // Overridden by the client; the core's versions do nothing and return true.
    virtual bool CreateDescriptorSets();
    virtual bool CreatePipelineLayout();
    virtual bool CreatePipelines();

    // Adds `line` (without its line break) to Failure(); returns false, for
    // `return Fail(...)` from a step.
    bool Fail(const std::string& line);

    // The client's descriptor bundle; the core destroys its objects.
    DescriptorSetInfo& DescriptorSets() { return descriptorSets; }
    vk::PipelineLayout PipelineLayout() const { return pipelineLayout; }
    // The core takes over `layout`, replacing (and destroying) an earlier one.
    void AdoptPipelineLayout(vk::PipelineLayout layout);
    // The core takes over `module` (null is kept as it is, and skipped).
    void AdoptShaderModule(vk::ShaderModule module);
    void AdoptPipeline(vk::Pipeline pipeline);
    void DestroyPipelines();
    // Resets the selected device's compute pool and replaces its command buffer
    // with a new one, which it returns; the previous buffer is freed, so that a
    // long run does not pile up one command buffer per submission.
    vk::CommandBuffer RenewComputeCommandBuffer();

    // Creates the logical device of physicalDevices[index] (index clamped to the
    // list) with one compute and one transfer queue, then its command resources.
    // Prints a line and returns true when the device exists already; false
    // with Failure() saying why when there is no physical device.
    bool CreateDevice(unsigned int index);
    // One pool (transient, resettable buffers) and one primary buffer per
    // family; false with Failure() saying why when device `index` is missing.
    bool CreateCommandResources(unsigned int index);

private:
    // The start-up steps of the constructor, each printing its report lines
    // and failing through Fail. True when the core is ready (vulkanReady).
    bool BaseInit();
    // Opens the loader ("libvulkan.so", then "libvulkan.so.1") and fills the
    // dispatch table's global entry points. Throws std::runtime_error when
    // neither opens or it lacks vkGetInstanceProcAddr.
    bool CheckVulkanLibrary();
    // Creates a Vulkan 1.2 instance without layers or extensions. False when
    // the loader implements Vulkan 1.0 only.
    bool CreateInstance();
    // Reports, checks and ranks every physical device; false when none is usable.
    bool GetPhysicalDevices();
    // Examines one device stage by stage (DeviceExamination.h), printing each
    // stage's report lines and, at the first need it misses, the line that
    // skips it. True when it meets every need; `info` is then complete.
    bool AcceptPhysicalDevice(vk::PhysicalDevice handle, PhysicalDeviceInfo& info) const;
    // Destructor body; also run when BaseInit throws out of the constructor.
    // Its steps go in reverse order of creation: the queues drained, then what
    // the client built on the device, the devices with their command pools,
    // and last the instance and the loader library.
    void Release() noexcept;
    void WaitForDevices() noexcept;
    void ReleaseClientObjects() noexcept;
    void ReleaseDevices() noexcept;
    void ReleaseLoader() noexcept;

    Options options;
    std::string name;
    std::string failure;
    bool pipelinesReady = false;
    bool vulkanReady = false;
    PFN_vkGetInstanceProcAddr getInstanceProcAddr = nullptr;
    void* libraryHandle = nullptr;
    uint32_t instanceVersion = 0;
    vk::Instance instance;
    std::vector<PhysicalDeviceInfo> physicalDevices;  // accepted devices, best first
    std::vector<DeviceInfo> devices;                  // index-aligned with physicalDevices
    PhysicalDeviceInfo selectedPhysicalDevice;        // a copy of physicalDevices[0] once ready
    DeviceInfo selectedDevice;                        // a copy of devices[0] once ready
    uint32_t maxStorageBuffers = SORT_KEY_BUFFERS;
    DescriptorSetInfo descriptorSets;
    std::vector<vk::ShaderModule> shaderModules;
    std::vector<vk::Pipeline> pipelines;
    vk::PipelineLayout pipelineLayout;
};

}  // namespace QVEvalCore
