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
