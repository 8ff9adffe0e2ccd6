#include "support/CharBuffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "support/HugePages.h"

namespace AppCore {

namespace {

// An uninitialised block of `length` bytes that free() releases; large ones
// aligned and advised onto huge pages. Null on failure.
char* Allocate(unsigned long length) {
    if (length < CharBuffer::kHugePageBlockBytes) return static_cast<char*>(std::malloc(length));
    void* block = nullptr;
    if (posix_memalign(&block, kHugePageBytes, length) != 0) return nullptr;
    AdviseHugePages(block, length);
    return static_cast<char*>(block);
}

}  // namespace

CharBuffer::CharBuffer(char* block, unsigned long length) : data(block), size(length) {}

CharBuffer::CharBuffer(unsigned char* block, unsigned long length)
    : data(reinterpret_cast<char*>(block)), size(length) {}

CharBuffer::CharBuffer(unsigned long length) : data(Allocate(length)) {
    // A length claimed without storage would let callers write through null.
    size = data ? length : 0;
}

CharBuffer::CharBuffer(unsigned long count, unsigned long elementSize) {
    unsigned long length = 0;
    if (__builtin_mul_overflow(count, elementSize, &length)) return;
    if (length < kHugePageBlockBytes) {
        data = static_cast<char*>(std::calloc(count, elementSize));
    } else if ((data = Allocate(length)) != nullptr) {
        // Zeroed after the advice, so the first touch already lands on huge pages.
        std::memset(data, 0, length);
    }
    size = data ? length : 0;
}

CharBuffer::CharBuffer(CharBuffer&& other) noexcept : data(other.data), size(other.size) {
    other.data = nullptr;
    other.size = 0;
}

CharBuffer& CharBuffer::operator=(CharBuffer&& other) noexcept {
    if (this != &other) {
        std::free(data);
        data = other.data;
        size = other.size;
        other.data = nullptr;
        other.size = 0;
    }
    return *this;
}

CharBuffer::~CharBuffer() { std::free(data); }

void CharBuffer::Clear() {
    std::free(data);
    data = nullptr;
    size = 0;
}

void CharBuffer::Resize(unsigned long length) {
    if (length == size) return;
    if (length == 0) {
        Clear();
        return;
    }
    if (length > size && length >= kHugePageBlockBytes) {
        char* block = Allocate(length);
        if (!block) throw std::bad_alloc();
        if (size != 0) std::memcpy(block, data, size);
        std::free(data);
        data = block;
        size = length;
        return;
    }
    void* block = std::realloc(data, length);
    if (!block) throw std::bad_alloc();
    data = static_cast<char*>(block);
    size = length;
}

void CharBuffer::Grow(unsigned long length) {
    if (length <= size) return;
    Resize(length);
}

bool CharBuffer::operator==(const CharBuffer& other) const {
    if (size != other.size) return false;
    return size == 0 || std::memcmp(data, other.data, size) == 0;
}

}  // namespace AppCore
