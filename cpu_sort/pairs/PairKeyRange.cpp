#include "cpu_sort/pairs/PairKeyRange.h"

#include <cstring>
#include <limits>
#include <type_traits>

namespace EvalCore::PairDetail {

namespace {

// The signed image of a key: its order as a signed number is the sort key's
// order, and flipping its sign bit gives the sort key. Integers are their own
// image; a negative float's bits below the sign are inverted.
template <class Value>
auto SignedImage(Value value) {
    using Signed = std::conditional_t<sizeof(Value) == 4, std::int32_t, std::int64_t>;
    Signed bits;
    std::memcpy(&bits, &value, sizeof bits);
    if constexpr (std::is_floating_point_v<Value>)
        bits ^= (bits >> (sizeof(Signed) * 8 - 1)) & std::numeric_limits<Signed>::max();
    return bits;
}

template <class Value>
[[gnu::always_inline]] inline auto Range(const Value* values, std::size_t first, std::size_t last) {
    using Signed = decltype(SignedImage(Value{}));
    using Key = std::make_unsigned_t<Signed>;
    constexpr Signed most = std::numeric_limits<Signed>::max(), least = std::numeric_limits<Signed>::min();
    // Negative images are the keys whose top bit is clear.
    Signed lowest = most, highest = least, negativeHighest = least, positiveLowest = most;
    for (std::size_t i = first; i < last; ++i) {
        const Signed image = SignedImage(values[i]);
        lowest = image < lowest ? image : lowest;
        highest = image > highest ? image : highest;
        // Selected by masks, not conditions, so that the loop vectorises.
        const Signed isNegative = image >> (sizeof(Signed) * 8 - 1);
        const Signed negative = (image & isNegative) | (least & ~isNegative);
        const Signed positive = (image & ~isNegative) | (most & isNegative);
        negativeHighest = negative > negativeHighest ? negative : negativeHighest;
        positiveLowest = positive < positiveLowest ? positive : positiveLowest;
    }
    // Without a negative image negativeHighest stays `least`, key 0, and
    // without a positive one positiveLowest `most`, the largest key.
    constexpr Key sign = Key{1} << (sizeof(Key) * 8 - 1);
    const auto key = [](Signed image) { return static_cast<Key>(static_cast<Key>(image) ^ sign); };
    return KeyRange<Key>{key(lowest), key(highest), key(negativeHighest), key(positiveLowest)};
}

// The sweep compiled for AVX2, chosen when the processor has it. Chosen at
// the call, not by an ifunc at load time: a sanitizer's runtime is not ready
// when load-time resolvers run.
template <class Value>
[[gnu::target("avx2")]] auto RangeAvx2(const Value* values, std::size_t first, std::size_t last) {
    return Range(values, first, last);
}

template <class Value>
auto Dispatch(const Value* values, std::size_t first, std::size_t last) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 ? RangeAvx2(values, first, last) : Range(values, first, last);
}

}  // namespace

KeyRange<std::uint32_t> FindKeyRange(const std::int32_t* values, std::size_t first, std::size_t last) {
    return Dispatch(values, first, last);
}
KeyRange<std::uint32_t> FindKeyRange(const float* values, std::size_t first, std::size_t last) {
    return Dispatch(values, first, last);
}
KeyRange<std::uint64_t> FindKeyRange(const std::int64_t* values, std::size_t first, std::size_t last) {
    return Dispatch(values, first, last);
}
KeyRange<std::uint64_t> FindKeyRange(const double* values, std::size_t first, std::size_t last) {
    return Dispatch(values, first, last);
}

}  // namespace EvalCore::PairDetail
