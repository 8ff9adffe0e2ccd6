#include "driver/sorters/PermutationCheck.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

TEST(PermutationCheck, finds_the_first_position_where_the_stable_order_breaks) {
    const std::vector<float> values{2.0f, -0.0f, 1.0f, 0.0f, 1.0f};
    const auto less = [](float a, float b) { return a < b; };
    const struct {
        std::vector<std::uint32_t> permutation;
        std::uint64_t expected;
    } cases[] = {
        {{1, 3, 2, 4, 0}, 5},  // -0 and +0 tie under <: index order
        {{3, 1, 2, 4, 0}, 0},  // tie out of index order
        {{1, 3, 4, 2, 0}, 2},  // equal keys swapped
        {{1, 3, 2, 0, 4}, 3},  // larger key first
        {{1, 3, 2, 2, 0}, 2},  // an index twice
        {{1, 3, 2, 4, 5}, 4},  // out of range
    };
    for (const auto& c : cases) EXPECT_EQ(FirstOutOfOrder(values.data(), c.permutation.data(), 5, less), c.expected);
    EXPECT_EQ(FirstOutOfOrder(values.data(), cases[0].permutation.data(), 0, less), 0u);
}

TEST(PermutationCheck, finds_the_first_entry_that_differs_from_the_reference) {
    // Beyond one memcmp block, so that a difference in a later block is found where it is.
    constexpr std::uint64_t kCount = 10000;
    std::vector<std::uint32_t> reference(kCount);
    for (std::uint64_t i = 0; i < kCount; ++i) reference[i] = static_cast<std::uint32_t>(i);
    for (const std::uint64_t differsAt :
         {std::uint64_t{0}, std::uint64_t{4095}, std::uint64_t{4096}, std::uint64_t{9999}, kCount}) {
        std::vector<std::uint32_t> permutation = reference;
        if (differsAt < kCount) permutation[differsAt] += 1;
        EXPECT_EQ(FirstDifference(reference.data(), permutation.data(), kCount), differsAt);
    }
    EXPECT_EQ(FirstDifference(reference.data(), reference.data(), 0), 0u);
}
