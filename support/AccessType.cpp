#include "support/AccessType.h"

#include "strings/EscapedText.h"
#include "support/StatusLine.h"

namespace AppCore {

bool IsValidAccessType(const std::string& access) {
    if (access == "r" || access == "w") {
        return true;
    }
    ConsolePrintf("Requested file access, \"%s\" not valid. Valid options: \"r\", \"w\"",
                  SLib::EscapedControls(access).c_str());
    return false;
}

unsigned long ByteOrderMarkLength(const unsigned char* bytes, unsigned long size) {
    if (bytes == nullptr || size < 2) {
        return 0;
    }
    switch (bytes[0]) {
    case 0xEF: return size >= 3 && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    case 0xFE: return bytes[1] == 0xFF ? 2 : 0;
    case 0xFF:
        if (bytes[1] != 0xFE) {
            return 0;
        }
        return size >= 6 && bytes[2] == 0 && bytes[3] == 0 ? 4 : 2;
    case 0x00: return size >= 4 && bytes[1] == 0 && bytes[2] == 0xFE && bytes[3] == 0xFF ? 4 : 0;
    default: return 0;
    }
}

}  // namespace AppCore
