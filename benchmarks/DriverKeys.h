#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <type_traits>

#include "driver/measuring/TestData.h"

// values[0, n) drawn as the driver draws its uniform keys: every value below
// 2^24 in magnitude, a pure function of the seed.
template <class Value>
void FillDriverKeys(Value* values, std::size_t n, std::uint64_t seed) {
    constexpr double kRange = kUniformKeyBound;
    std::mt19937_64 random(seed);
    if constexpr (std::is_integral_v<Value>) {
        std::uniform_int_distribution<Value> uniform(-kUniformKeyBound, kUniformKeyBound);
        for (std::size_t i = 0; i < n; ++i) values[i] = uniform(random);
    } else {
        std::uniform_real_distribution<Value> uniform(-kRange, kRange);
        for (std::size_t i = 0; i < n; ++i) values[i] = uniform(random);
    }
}
