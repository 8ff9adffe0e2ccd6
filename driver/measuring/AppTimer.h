#pragma once

#include <chrono>

// The benchmark's stopwatch. It reads a clock that only moves forward (by
// default the monotonic clock): the wall clock can be stepped or slewed while
// a sort runs (time synchronisation, a suspended virtual machine), which would
// make a sort's time wrong or negative. `Clock` is a seam for tests.
template <typename Clock = std::chrono::steady_clock>
class BasicAppTimer {
public:
    static_assert(Clock::is_steady, "a stopwatch needs a clock that cannot jump");

    BasicAppTimer() : start(Clock::now()) {}

    void restart() { start = Clock::now(); }

    // Milliseconds since the last start; restarts the stopwatch with a second reading.
    double elapse_millisecond() {
        const auto reading = Clock::now();
        const double ms =
            static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(reading - start).count()) /
            1000000.0;
        start = Clock::now();
        return ms;
    }

private:
    typename Clock::time_point start;
};

using AppTimer = BasicAppTimer<>;
