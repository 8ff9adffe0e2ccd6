// Shader modules from SPIR-V files.
#include <cstdint>
#include <string>

#include "gpu/QVEvalCore.h"
#include "support/FileEngine.h"

namespace QVEvalCore {

namespace {

// First word of every SPIR-V module, in the byte order of the machine that reads it.
constexpr uint32_t kSpirvMagic = 0x07230203;

// Enough of a module to hand to a driver: a driver may crash on anything else.
bool LooksLikeSpirv(const unsigned char* code, unsigned long size) {
    return code != nullptr && size >= sizeof(uint32_t) && size % sizeof(uint32_t) == 0 &&
           reinterpret_cast<uintptr_t>(code) % alignof(uint32_t) == 0 &&
           *reinterpret_cast<const uint32_t*>(code) == kSpirvMagic;
}

}  // namespace

QVCore::LoadedShader QVCore::LoadShader(vk::Device device, const char* path, vk::ShaderModuleCreateFlags flags) const {
    AppCore::FileEngine file(true);
    if (!file.OpenFile(path, "r")) {
        return {};
    }
    const unsigned long size = file.FileSize();
    if (!LooksLikeSpirv(file.data, size)) {
        return {nullptr, "Could not load shader " + std::string(path) + ": not a SPIR-V module (" +
                             std::to_string(size) + " bytes)"};
    }
    const vk::ShaderModuleCreateInfo createInfo(flags, size, reinterpret_cast<const uint32_t*>(file.data));
    Report(std::string("Load Shader: ") + path);
    return {device.createShaderModule(createInfo), {}};
}

}  // namespace QVEvalCore
