#include "support/HugePages.h"

#include <sys/mman.h>

#include <cstdint>

namespace AppCore {

void AdviseHugePages(void* data, std::size_t size) {
    constexpr std::uintptr_t kHugePage = kHugePageBytes;
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (start + size) & ~(kHugePage - 1);
    if (data == nullptr || last <= first) return;
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace AppCore
