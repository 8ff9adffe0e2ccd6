#include "strings/EscapedText.h"

#include <cstddef>

namespace SLib {

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// Characters a terminal acts on instead of showing: the C1 controls (U+009B is
// a one-character CSI) and Unicode's Bidi_Control characters, which reorder the
// rest of the line so that it reads other than it is.
bool IsWideControl(char32_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

// The length of the well-formed UTF-8 character at `at` (RFC 3629: no overlong
// forms, no surrogates, nothing past U+10FFFF) with its code point, or 0 when
// the byte there starts none.
std::size_t CharacterAt(std::string_view text, std::size_t at, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    unsigned char low = 0x80;  // the second byte's range, narrower after some leads
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return 0;
        codePoint = codePoint << 6 | (next & 0x3F);
    }
    return length;
}

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
    for (std::size_t at = 0; at < text.size();) {
        const auto first = static_cast<unsigned char>(text[at]);
        char32_t codePoint = 0;
        const std::size_t length = CharacterAt(text, at, codePoint);
        bool escaped = false;
        if (length == 0) {
            // A byte that starts no UTF-8 character, as in Latin-1 text: a
            // terminal set to such a character set takes 0x80..0x9F as C1 controls.
            escaped = first >= 0x80 && first <= 0x9F;
        } else if (length == 1) {
            escaped = IsControl(first) && !(keepLines && (first == '\n' || first == '\t'));
        } else {
            escaped = IsWideControl(codePoint);
        }
        const std::size_t taken = length == 0 ? 1 : length;
        for (std::size_t k = at; k < at + taken; ++k) {
            if (escaped) {
                AppendEscape(out, static_cast<unsigned char>(text[k]));
            } else {
                out += text[k];
            }
        }
        at += taken;
    }
    return out;
}

}  // namespace

std::string EscapedControls(std::string_view text) { return Escaped(text, false); }

std::string EscapedControlsKeepingLines(std::string_view text) { return Escaped(text, true); }

}  // namespace SLib
