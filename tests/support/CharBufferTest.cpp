#include "support/CharBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include <gtest/gtest.h>

using AppCore::CharBuffer;

TEST(CharBuffer, count_and_size_constructor_zero_fills_exactly) {
    CharBuffer buffer(10, 4);
    ASSERT_NE(buffer.data, nullptr);
    EXPECT_EQ(buffer.size, 40u);
    for (unsigned long i = 0; i < buffer.size; ++i) EXPECT_EQ(buffer.data[i], 0);
}

TEST(CharBuffer, failed_allocation_in_constructor_leaves_it_empty) {
    CharBuffer huge(~0ul);
    EXPECT_EQ(huge.data, nullptr);
    EXPECT_EQ(huge.size, 0u);
    CharBuffer hugeZeroed(~0ul / 2, 4);
    EXPECT_EQ(hugeZeroed.data, nullptr);
    EXPECT_EQ(hugeZeroed.size, 0u);
}

TEST(CharBuffer, adopts_a_block_from_the_c_allocator) {
    auto* block = static_cast<unsigned char*>(std::malloc(3));
    std::memcpy(block, "abc", 3);
    CharBuffer buffer(block, 3);
    EXPECT_EQ(buffer.data, reinterpret_cast<char*>(block));
    EXPECT_EQ(buffer.size, 3u);
}

TEST(CharBuffer, move_leaves_the_source_empty) {
    CharBuffer source(16);
    char* block = source.data;
    CharBuffer target(std::move(source));
    EXPECT_EQ(target.data, block);
    EXPECT_EQ(target.size, 16u);
    EXPECT_EQ(source.data, nullptr);
    EXPECT_EQ(source.size, 0u);

    CharBuffer other(8);
    other = std::move(target);
    EXPECT_EQ(other.data, block);
    EXPECT_EQ(other.size, 16u);
    EXPECT_EQ(target.data, nullptr);
    EXPECT_EQ(target.size, 0u);
}

TEST(CharBuffer, grow_never_shrinks_and_keeps_the_block) {
    CharBuffer buffer(100);
    char* block = buffer.data;
    buffer.Grow(50);
    buffer.Grow(100);
    EXPECT_EQ(buffer.data, block);
    EXPECT_EQ(buffer.size, 100u);
    std::memset(buffer.data, 7, 100);
    buffer.Grow(1000);
    EXPECT_EQ(buffer.size, 1000u);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(buffer.data[i], 7);
}

TEST(CharBuffer, resize_sets_exact_lengths) {
    CharBuffer buffer(100);
    char* block = buffer.data;
    buffer.Resize(100);
    EXPECT_EQ(buffer.data, block);
    std::memset(buffer.data, 5, 100);
    buffer.Resize(10);
    EXPECT_EQ(buffer.size, 10u);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(buffer.data[i], 5);
    buffer.Resize(0);
    EXPECT_EQ(buffer.data, nullptr);
    EXPECT_EQ(buffer.size, 0u);
    buffer.Resize(7);
    EXPECT_NE(buffer.data, nullptr);
    EXPECT_EQ(buffer.size, 7u);
}

// Large blocks move to fresh, 2 MiB-aligned blocks as they grow: the bytes
// must come along, and shrinking keeps them too.
TEST(CharBuffer, large_blocks_keep_their_bytes_across_every_resize) {
    constexpr unsigned long kMiB = 1ul << 20;
    const struct {
        unsigned long from, to;
    } steps[] = {{100, 5 * kMiB}, {5 * kMiB, 9 * kMiB}, {9 * kMiB, 3 * kMiB}, {3 * kMiB, 4 * kMiB}};
    for (const auto& step : steps) {
        CharBuffer buffer(step.from);
        for (unsigned long i = 0; i < step.from; ++i) buffer.data[i] = static_cast<char>(i * 7);
        buffer.Resize(step.to);
        ASSERT_EQ(buffer.size, step.to);
        for (unsigned long i = 0; i < std::min(step.from, step.to); ++i) {
            ASSERT_EQ(buffer.data[i], static_cast<char>(i * 7)) << step.from << " -> " << step.to << " at " << i;
        }
        if (step.to >= CharBuffer::kHugePageBlockBytes && step.to > step.from) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(buffer.data) % (2 * kMiB), 0u);
        }
    }
    const CharBuffer zeroed(3 * kMiB, 2);
    ASSERT_EQ(zeroed.size, 6 * kMiB);
    EXPECT_EQ(std::count(zeroed.data, zeroed.data + zeroed.size, 0), static_cast<long>(zeroed.size));
}

TEST(CharBuffer, failed_resize_throws_and_keeps_the_old_block) {
    CharBuffer buffer(64);
    char* block = buffer.data;
    EXPECT_THROW(buffer.Resize(~0ul), std::bad_alloc);
    EXPECT_EQ(buffer.data, block);
    EXPECT_EQ(buffer.size, 64u);
    EXPECT_THROW(buffer.Grow(~0ul), std::bad_alloc);
    EXPECT_EQ(buffer.data, block);
    EXPECT_EQ(buffer.size, 64u);
}

TEST(CharBuffer, equality_compares_length_then_bytes) {
    CharBuffer a(4), b(4), c(5);
    std::memcpy(a.data, "abcd", 4);
    std::memcpy(b.data, "abcd", 4);
    std::memcpy(c.data, "abcd", 4);
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a != b);
    EXPECT_NE(a.data, b.data);
    EXPECT_TRUE(a != c);
    b.data[3] = 'x';
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(CharBuffer() == CharBuffer());
}
