#include "gpu/ReportText.h"

#include "strings/GroupedNumber.h"

namespace QVEvalCore {

std::string VersionText(uint32_t version) {
    return std::to_string(version >> 22) + "." + std::to_string((version >> 12) & 0x3FF) + "." +
           std::to_string(version & 0xFFF);
}

std::string LocaleNumberText(uint64_t value) { return SLib::STR_GroupedNum(value); }

}  // namespace QVEvalCore
