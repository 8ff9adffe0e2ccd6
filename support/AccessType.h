#pragma once

#include <string>

namespace AppCore {

// True for exactly "r" (read only) or "w" (read and write). Anything else prints
//   Requested file access, "<access>" not valid. Valid options: "r", "w"
// on standard output, without a line feed, and returns false.
bool IsValidAccessType(const std::string& access);

// Length of the byte-order mark at the start of a view, 0 when there is none.
// `bytes` holds at least min(size, 6) readable bytes; `size` is the file size the
// marks are checked against (UTF-32 LE needs 6 bytes, else it counts as UTF-16 LE).
unsigned long ByteOrderMarkLength(const unsigned char* bytes, unsigned long size);

}  // namespace AppCore
