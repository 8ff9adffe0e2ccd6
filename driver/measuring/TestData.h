#pragma once

#include <cstdint>
#include <limits>
#include <new>
#include <random>

#include "support/CharBuffer.h"
#include "support/DataTypes.h"

// Random data sets of the four data types, all drawn from one process-wide
// MT19937-64 engine in the order the data sets are generated.
//
// Each generator resizes `buffer` to exactly count elements, fills them in order
// and returns the buffer's data typed as elements (valid until the buffer is next
// resized). Integers are uniform over [-16777215, 16777215]; reals uniform over
// [-16777215, 16777215). A count of 0 empties the buffer and draws nothing.
// Throws std::bad_alloc (buffer unchanged) when the buffer cannot be sized.

// The engine, seeded at start-up with the calendar time in whole seconds; a
// run reseeds it with the seed it records (the clock's, or -SEED's).
std::mt19937_64& TestDataEngine();
// Restarts the engine's sequence, so tests can reproduce a data set.
void ReseedTestData(std::uint64_t seed);

// A uniform draw from [0, bound) (bound > 0) off the engine: multiply-shift
// with rejection, unbiased and independent of the standard library's
// distributions, so a seed gives the same numbers everywhere.
std::uint64_t DrawBelow(std::uint64_t bound);

// `buffer` resized to exactly `count` elements, typed as elements;
// std::bad_alloc (buffer unchanged) when that many bytes cannot be had.
template <typename Element>
Element* ResizeForElements(std::uint64_t count, AppCore::CharBuffer& buffer) {
    if (count > std::numeric_limits<unsigned long>::max() / sizeof(Element)) throw std::bad_alloc();
    buffer.Resize(count * sizeof(Element));
    return reinterpret_cast<Element*>(buffer.data);
}

// The largest magnitude of the uniform keys, 2^24 - 1: every type holds the
// same values exactly, so the four types sort the same numbers.
inline constexpr std::int64_t kUniformKeyBound = 16777215;

// The low bits of the sort keys (cpu_sort/SortKey.h) over which the
// generators' keys take every value; the bits above take few. Integers below
// 2^24 in magnitude fill 24 bits, the sign the rest; so do floats (a 23-bit
// mantissa and the lowest exponent bit); doubles fill their 52-bit mantissa,
// of which the 16-bit digits see 48 bits whole.
constexpr unsigned UniformKeySpreadBits(AppCore::DataType type) {
    return type == AppCore::DataType::BIGFLOAT ? 48 : 24;
}

std::int32_t* GenerateINT(std::uint64_t count, AppCore::CharBuffer& buffer);
float* GenerateFLOAT(std::uint64_t count, AppCore::CharBuffer& buffer);
std::int64_t* GenerateBIGINT(std::uint64_t count, AppCore::CharBuffer& buffer);
double* GenerateBIGFLOAT(std::uint64_t count, AppCore::CharBuffer& buffer);
