#include "driver/measuring/CellStatistics.h"

#include <optional>
#include <vector>

#include <gtest/gtest.h>

TEST(CellStatistics, verdicts_at_their_thresholds) {
    const struct {
        const char* what;
        std::vector<double> times;
        std::optional<double> target;
        std::optional<double> drift;
        bool noisy;
        std::optional<bool> reached;
        bool drifted;
    } cases[] = {
        {"cv exactly at the limit is quiet", {95, 100, 105}, {}, {}, false, {}, false},
        {"cv just above the limit is noisy", {94.9, 100, 105.1}, {}, {}, true, {}, false},
        {"interval exactly at the target reached it", {99, 100, 100, 100, 100, 101}, 0.01, {}, false, true, false},
        {"interval just wider missed it", {98.9, 100, 100, 100, 100, 101}, 0.01, {}, false, false, false},
        {"no interval below 6 times misses any target", {100, 100, 100, 100, 100}, 0.5, {}, false, false, false},
        {"one round: quiet, and no interval", {7}, 0.5, {}, false, false, false},
        {"drift exactly at twice the target is no drift", {7}, 0.01, 0.02, false, false, false},
        {"drift beyond twice the target drifted", {7}, 0.01, 0.0201, false, false, true},
        {"no target: no interval verdict, no drift verdict", {7}, {}, 0.5, false, {}, false},
    };
    for (const auto& c : cases) {
        const CellStatistics cell = CellStatisticsOf(
            c.times,
            {.intervalTarget = c.target, .floorMs = {}, .floorSpread = {}, .standardTimes = {}, .drift = c.drift});
        EXPECT_EQ(cell.noisy, c.noisy) << c.what;
        EXPECT_EQ(cell.intervalReached, c.reached) << c.what;
        EXPECT_EQ(cell.drifted, c.drifted) << c.what;
        EXPECT_EQ(cell.halfWidth.has_value(), c.times.size() >= 6) << c.what;
    }
}
