#pragma once

#include <string>
#include <string_view>

// Text from outside the program (arguments, paths, file contents) on its way
// to a terminal or into a line of a file: as data, never as control.
namespace SLib {

// `text` with every control character (bytes below 0x20, and 0x7F) written as
// an escape, "\n", "\r", "\t" or "\xHH"; everything else, UTF-8 included,
// unchanged. The result can neither move a terminal's cursor nor start a line
// of its own, so one value stays one field.
std::string EscapedControls(std::string_view text);

// The same, but line feeds and tabs stay as they are: for whole lines of output
// whose own line feeds are meant.
std::string EscapedControlsKeepingLines(std::string_view text);

}  // namespace SLib
