#include "driver/measuring/MedianInterval.h"

#include <numeric>
#include <vector>

#include <gtest/gtest.h>

TEST(MedianInterval, ranks_match_the_binomial_table_from_the_smallest_samples_up) {
    // n and the rank k of the 95% interval [x(k), x(n + 1 - k)], from the
    // cumulative binomial distribution with p = 1/2.
    const struct {
        std::size_t n, rank;
    } cases[] = {{0, 0},  {1, 0},  {5, 0},  {6, 1},  {7, 1},   {8, 1},   {9, 2},    {10, 2},
                 {11, 2}, {12, 3}, {17, 5}, {20, 6}, {30, 10}, {50, 18}, {100, 40}, {1000, 469}};
    for (const auto& c : cases) EXPECT_EQ(IntervalRank(c.n), c.rank) << "n = " << c.n;
    EXPECT_EQ(MinimumSamplesFor(0.95), 6u);
    EXPECT_EQ(MinimumSamplesFor(0.99), 8u);
}

TEST(MedianInterval, interval_takes_the_ranked_samples_in_any_order) {
    EXPECT_FALSE(MedianConfidenceInterval({3, 1, 2, 5, 4}));
    const auto six = MedianConfidenceInterval({6, 2, 4, 1, 5, 3});
    ASSERT_TRUE(six);
    EXPECT_EQ(six->low, 1);
    EXPECT_EQ(six->high, 6);
    std::vector<double> twenty(20);
    std::iota(twenty.rbegin(), twenty.rend(), 1.0);
    const auto interval = MedianConfidenceInterval(twenty);
    ASSERT_TRUE(interval);
    EXPECT_EQ(interval->low, 6);
    EXPECT_EQ(interval->high, 15);
    EXPECT_DOUBLE_EQ(RelativeHalfWidth({95, 102}, 100), 0.05);
    EXPECT_DOUBLE_EQ(RelativeHalfWidth({99, 101}, 100), 0.01);
}
