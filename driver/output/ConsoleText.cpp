#include "driver/output/ConsoleText.h"

#include "strings/GroupedNumber.h"
#include "support/Tools.h"

std::string FormatWithCommas(std::uint64_t value) { return SLib::STR_GroupedNum(value); }

std::string GetTimeStamp() { return AppCore::Tools::GetStampYMDHMS(); }
