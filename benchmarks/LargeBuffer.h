#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "support/HugePages.h"

// Whether LargeBufferAllocator advises its blocks for transparent huge pages;
// the benchmarks' --no-huge-pages clears it before any buffer is made.
inline bool largeBuffersOnHugePages = true;

// 2 MiB-aligned blocks advised for transparent huge pages, as the driver
// advises its data and index buffers, or the plain allocator when
// largeBuffersOnHugePages is false (key reads through a permutation then miss
// the TLB far more often).
template <class T>
struct LargeBufferAllocator {
    using value_type = T;
    static constexpr std::size_t kHugePage = AppCore::kHugePageBytes;

    LargeBufferAllocator() = default;
    template <class U>
    LargeBufferAllocator(const LargeBufferAllocator<U>&) {}

    T* allocate(std::size_t count) {
        const std::size_t bytes = count * sizeof(T);
        if (!largeBuffersOnHugePages || bytes < kHugePage) return std::allocator<T>().allocate(count);
        void* block = std::aligned_alloc(kHugePage, (bytes + kHugePage - 1) / kHugePage * kHugePage);
        if (block == nullptr) throw std::bad_alloc();
        AppCore::AdviseHugePages(block, bytes);
        return static_cast<T*>(block);
    }
    void deallocate(T* block, std::size_t count) {
        if (!largeBuffersOnHugePages || count * sizeof(T) < kHugePage)
            std::allocator<T>().deallocate(block, count);
        else
            std::free(block);
    }
    bool operator==(const LargeBufferAllocator&) const { return true; }
};

template <class T>
using Buffer = std::vector<T, LargeBufferAllocator<T>>;
