#include "driver/measuring/AppTimer.h"

#include <chrono>

#include <gtest/gtest.h>

namespace {

// A monotonic clock the test moves by hand; each reading can advance it further.
struct FakeClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<FakeClock>;
    static constexpr bool is_steady = true;
    static inline rep nanoseconds = 0;
    static inline rep stepPerReading = 0;
    static time_point now() {
        const time_point reading{duration(nanoseconds)};
        nanoseconds += stepPerReading;
        return reading;
    }
};

TEST(AppTimer, reads_the_monotonic_clock_and_restarts_with_a_second_reading) {
    static_assert(std::chrono::steady_clock::is_steady);
    FakeClock::nanoseconds = 5'000'000;
    FakeClock::stepPerReading = 0;
    BasicAppTimer<FakeClock> timer;
    FakeClock::nanoseconds += 2'500'000;
    // The reading that ends the interval and the one that restarts it are apart.
    FakeClock::stepPerReading = 1'000;
    EXPECT_DOUBLE_EQ(timer.elapse_millisecond(), 2.5);
    FakeClock::stepPerReading = 0;
    FakeClock::nanoseconds += 1'000'000;
    // From the restart's reading, 1 us after the first one (and 1 us before the clock stood still).
    EXPECT_DOUBLE_EQ(timer.elapse_millisecond(), 1.001);
    timer.restart();
    EXPECT_DOUBLE_EQ(timer.elapse_millisecond(), 0.0);
}

}  // namespace
