#include "strings/GroupedNumber.h"

#include <locale>
#include <sstream>
#include <stdexcept>

namespace SLib {

std::string GroupedNumber(std::uint64_t value) {
    std::ostringstream text;
    try {
        text.imbue(std::locale(""));
    } catch (const std::runtime_error&) {
        text.imbue(std::locale::classic());
    }
    text << std::fixed << value;
    return text.str();
}

}  // namespace SLib
