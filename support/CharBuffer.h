#pragma once

#include <cstddef>

#include "support/HugePages.h"

namespace AppCore {

// An owned block of raw bytes from the C allocator, with its exact length.
//
// Holds data sets, index permutations and sorter scratch. It never holds more
// than it is asked for: Resize sets an exact length, Grow only enlarges.
// An empty buffer is (nullptr, 0). Movable, not copyable; a moved-from buffer
// is empty and frees nothing.
//
// Blocks of kHugePageBlockBytes (one huge page) and more start on a huge
// page boundary and are advised onto transparent huge pages (HugePages.h) before
// their first touch, wherever they come from: sorts gather keys and scatter
// indices all over such arrays, and on 4 KiB pages nearly every access misses
// the TLB. Growing such a block moves it to a new one rather than extending
// it, since realloc's remapping leaves the added pages on 4 KiB pages.
class CharBuffer {
public:
    static constexpr unsigned long kHugePageBlockBytes = kHugePageBytes;

    char* data = nullptr;
    unsigned long size = 0;  // bytes, as last requested

    CharBuffer() = default;
    // Adopt a block from malloc/calloc/realloc; this buffer frees it.
    CharBuffer(char* block, unsigned long length);
    CharBuffer(unsigned char* block, unsigned long length);
    // malloc(length): contents undefined. A failed allocation leaves the buffer empty.
    explicit CharBuffer(unsigned long length);
    // calloc(count, elementSize): zero-filled. A failed allocation leaves the buffer empty.
    CharBuffer(unsigned long count, unsigned long elementSize);

    CharBuffer(CharBuffer&& other) noexcept;
    CharBuffer& operator=(CharBuffer&& other) noexcept;
    CharBuffer(const CharBuffer&) = delete;
    CharBuffer& operator=(const CharBuffer&) = delete;
    ~CharBuffer();

    // Free the block; the buffer becomes empty.
    void Clear();
    // Exact length: equal size does nothing, 0 clears, otherwise realloc
    // (kept bytes unchanged, added bytes undefined). Throws std::bad_alloc on
    // failure and then keeps the old block and length.
    void Resize(unsigned long length);
    // Like Resize, but never shrinks: a length at or below the current one does nothing.
    void Grow(unsigned long length);

    // Equal lengths and equal bytes; two empty buffers are equal.
    bool operator==(const CharBuffer& other) const;
    bool operator!=(const CharBuffer& other) const { return !(*this == other); }
};

}  // namespace AppCore
