#include "strings/EscapedText.h"

namespace SLib {

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

void AppendEscape(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789abcdef";
    switch (c) {
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default:
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
}

std::string Escaped(std::string_view text, bool keepLines) {
    std::string out;
    out.reserve(text.size());
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        if (!IsControl(c) || (keepLines && (c == '\n' || c == '\t'))) {
            out += byte;
        } else {
            AppendEscape(out, c);
        }
    }
    return out;
}

}  // namespace

std::string EscapedControls(std::string_view text) { return Escaped(text, false); }

std::string EscapedControlsKeepingLines(std::string_view text) { return Escaped(text, true); }

}  // namespace SLib
