#pragma once

#include <string>
#include <string_view>

// Text from outside the program (arguments, paths, file contents) on its way
// to a terminal or into a line of a file: as data, never as control.
namespace SLib {

// `text` with every control character written as escapes, "\n", "\r", "\t"
// or "\xHH" for each of its bytes: the C0 controls (bytes below 0x20) and 0x7F,
// the C1 controls U+0080..U+009F (as UTF-8, "\xc2\x9b"), the bidirectional
// controls U+061C, U+200E, U+200F, U+202A..U+202E and U+2066..U+2069, and bytes
// 0x80..0x9F that start no UTF-8 character (C1 controls to a terminal set to
// an 8-bit character set). Everything else, the rest of UTF-8 and other bytes
// included, is unchanged. The result can neither move a terminal's cursor,
// start a line of its own nor reorder what follows it, so one value stays one
// field.
std::string EscapedControls(std::string_view text);

// The same, but line feeds and tabs stay as they are: for whole lines of output
// whose own line feeds are meant.
std::string EscapedControlsKeepingLines(std::string_view text);

}  // namespace SLib
