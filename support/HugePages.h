#pragma once

#include <cstddef>

namespace AppCore {

// The size of a transparent huge page on x86-64.
inline constexpr std::size_t kHugePageBytes = std::size_t{2} << 20;

// Asks the kernel to back the whole huge pages inside [data, data + size)
// with transparent huge pages. Sorts read keys and write indices all over
// arrays of hundreds of megabytes; with 4 KiB pages nearly every access needs
// a TLB entry of its own.
// Only a hint, worth giving before the pages are first touched: a kernel that
// declines it changes nothing, so its result is not looked at.
void AdviseHugePages(void* data, std::size_t size);

}  // namespace AppCore
