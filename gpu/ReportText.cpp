#include "gpu/ReportText.h"

namespace QVEvalCore {

std::string VersionText(uint32_t version) {
    return std::to_string(version >> 22) + "." + std::to_string((version >> 12) & 0x3FF) + "." +
           std::to_string(version & 0xFFF);
}

}  // namespace QVEvalCore
