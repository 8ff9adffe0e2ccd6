#pragma once

#include <chrono>

// The benchmark's stopwatch on the wall clock.
class AppTimer {
public:
    AppTimer() : start(std::chrono::system_clock::now()) {}

    void restart() { start = std::chrono::system_clock::now(); }

    // Milliseconds since the last start; restarts the stopwatch with a second reading.
    double elapse_millisecond() {
        const auto reading = std::chrono::system_clock::now();
        const double ms =
            static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(reading - start).count()) /
            1000000.0;
        start = std::chrono::system_clock::now();
        return ms;
    }

private:
    std::chrono::system_clock::time_point start;
};
