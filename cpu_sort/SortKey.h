#pragma once

#include <bit>
#include <cstdint>

// Sort keys: the unsigned image of a value whose unsigned order is the value
// order. Every sorter of the engine orders by these keys, so a sorter's
// result is defined by them alone.
namespace EvalCore {

// Signed integers: flipping the sign bit moves negatives below positives.
constexpr std::uint32_t SortKey(int value) { return std::bit_cast<std::uint32_t>(value) ^ 0x80000000u; }

constexpr std::uint64_t SortKey(long value) { return std::bit_cast<std::uint64_t>(value) ^ 0x8000000000000000ull; }

// IEEE floats: a set sign bit inverts all bits (larger magnitudes of negative
// values become smaller keys), a clear one flips only the sign bit. Hence
// -0 < +0, -inf below every finite value, NaNs with the sign clear above +inf
// in ascending bit order and NaNs with the sign set below -inf in descending
// bit order.
constexpr std::uint32_t SortKey(float value) {
    const auto bits = std::bit_cast<std::int32_t>(value);
    const auto mask = static_cast<std::uint32_t>(bits >> 31) | 0x80000000u;
    return static_cast<std::uint32_t>(bits) ^ mask;
}

constexpr std::uint64_t SortKey(double value) {
    const auto bits = std::bit_cast<std::int64_t>(value);
    const auto mask = static_cast<std::uint64_t>(bits >> 63) | 0x8000000000000000ull;
    return static_cast<std::uint64_t>(bits) ^ mask;
}

}  // namespace EvalCore
