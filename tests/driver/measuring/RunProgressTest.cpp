#include "driver/measuring/RunProgress.h"

#include <cmath>

#include <gtest/gtest.h>

TEST(RunProgress, time_left_follows_each_sorters_growth_to_the_counts_to_come) {
    // A comparison sort (n log n) and a radix sort (n); two rounds and a warm-up per data set.
    RunProgress progress({Growth::Linearithmic, Growth::Linear}, {1000, 2000}, 2);
    progress.StartDataSet(0);
    EXPECT_FALSE(progress.SecondsLeft(0.0)) << "nothing measured yet";
    progress.Measured(0, 10.0);
    progress.Measured(1, 1.0);
    const double growth = 2000 * std::log2(2000.0) / (1000 * std::log2(1000.0));
    const double first = (10.0 + 1.0) * 3 / 1000;
    const double second = (10.0 * growth + 2.0) * 3 / 1000;
    EXPECT_NEAR(*progress.SecondsLeft(0.0), first + second, 1e-12);
    EXPECT_NEAR(*progress.SecondsLeft(0.020), first - 0.020 + second, 1e-12);
    EXPECT_NEAR(*progress.SecondsLeft(1.0), second, 1e-12) << "an overrun data set counts as done";

    // -R auto: the rounds a data set took, never more than the budget, never
    // fewer than the six rounds an interval needs.
    RunProgress sure({Growth::Linear}, {1000, 1000, 1000}, 6, 0.05);
    sure.StartDataSet(0);
    sure.Measured(0, 1.0);
    sure.RoundsTaken(9);
    EXPECT_NEAR(*sure.SecondsLeft(0.0), 3 * 0.010, 1e-12);
    sure.RoundsTaken(99);
    // The budget is checked after each round: the round that crosses it runs to its end.
    EXPECT_NEAR(*sure.SecondsLeft(0.0), 3 * (0.05 + 0.001), 1e-12);
    sure.Measured(0, 10.0);
    EXPECT_NEAR(*sure.SecondsLeft(0.0), 3 * 0.070, 1e-12);
    // A machine reference of 1 ms after every round: six rounds of 11 ms.
    sure.RoundOverhead(0.001);
    EXPECT_NEAR(*sure.SecondsLeft(0.0), 3 * (0.010 + 6 * 0.011), 1e-12);
    // Making the keys (1 us a record) and storing the files (2 ms) come on top of every data set.
    sure.SetupPerRecord(1e-6);
    sure.DataSetOverhead(0.002);
    EXPECT_NEAR(*sure.SecondsLeft(0.0), 3 * (0.001 + 0.002 + 0.010 + 6 * 0.011), 1e-12);
    // The memory probe at a count's own sizes (5 us a record) is paid once, by
    // the data sets that make it, the current one among them.
    sure.ProbesAt({0, 2, 7}, 5e-6);
    EXPECT_NEAR(*sure.SecondsLeft(0.0), 3 * (0.001 + 0.002 + 0.010 + 6 * 0.011) + 2 * 0.005, 1e-12);

    // A fixed cost per sort (threads to start) is not scaled with the count.
    RunProgress fixed({Growth::Linear}, {100, 1000000}, 1);
    fixed.FixedCost(0, 0.001);
    fixed.MeasuredAt(0, 1000000, 101.0);
    EXPECT_NEAR(*fixed.SecondsLeft(0.0), 2 * (0.001 + 0.0000100) + 2 * 0.101, 1e-12);
    fixed.MeasuredAt(0, 100, 1.5);
    EXPECT_NEAR(*fixed.SecondsLeft(0.0), 2 * (0.001 + 0.0000100) + 2 * 0.101, 1e-12)
        << "a time within twice the fixed cost leaves the cost per record as it was";
}
