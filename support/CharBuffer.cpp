#include "support/CharBuffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace AppCore {

CharBuffer::CharBuffer(char* block, unsigned long length) : data(block), size(length) {}

CharBuffer::CharBuffer(unsigned char* block, unsigned long length)
    : data(reinterpret_cast<char*>(block)), size(length) {}

CharBuffer::CharBuffer(unsigned long length) : data(static_cast<char*>(std::malloc(length))) {
    // A length claimed without storage would let callers write through null.
    size = data ? length : 0;
}

CharBuffer::CharBuffer(unsigned long count, unsigned long elementSize)
    : data(static_cast<char*>(std::calloc(count, elementSize))) {
    size = data ? count * elementSize : 0;
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
