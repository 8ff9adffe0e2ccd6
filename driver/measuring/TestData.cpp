#include "driver/measuring/TestData.h"

#include <cmath>
#include <ctime>
#include <limits>
#include <new>

namespace {

constexpr std::int64_t kBound = kUniformKeyBound;
constexpr std::uint64_t kIntegerRange = 2 * kBound + 1;

std::mt19937_64 gen(static_cast<std::uint64_t>(std::time(nullptr)));

// Uniform over [-kBound, kBound].
std::int64_t DrawInteger() { return static_cast<std::int64_t>(DrawBelow(kIntegerRange)) - kBound; }

// One engine word scaled into [0, 1) in the element type, then one fused
// multiply-add onto [-kBound, kBound).
template <typename Real>
Real DrawReal() {
    Real unit = static_cast<Real>(gen()) * static_cast<Real>(0x1p-64);
    if (unit >= Real(1)) unit = std::nextafter(Real(1), Real(0));
    return std::fma(static_cast<Real>(2 * kBound), unit, static_cast<Real>(-kBound));
}

template <typename Element, typename Draw>
Element* Generate(std::uint64_t count, AppCore::CharBuffer& buffer, Draw draw) {
    auto* elements = ResizeForElements<Element>(count, buffer);
    for (std::uint64_t i = 0; i < count; ++i) elements[i] = static_cast<Element>(draw());
    return elements;
}

}  // namespace

std::mt19937_64& TestDataEngine() { return gen; }

void ReseedTestData(std::uint64_t seed) { gen.seed(seed); }

std::uint64_t DrawBelow(std::uint64_t bound) {
    // 2^64 mod bound: products whose low word falls below it would favour small values.
    const std::uint64_t rejectBelow = (0 - bound) % bound;
    for (;;) {
        const unsigned __int128 product = static_cast<unsigned __int128>(gen()) * bound;
        if (static_cast<std::uint64_t>(product) >= rejectBelow) return static_cast<std::uint64_t>(product >> 64);
    }
}

std::int32_t* GenerateINT(std::uint64_t count, AppCore::CharBuffer& buffer) {
    return Generate<std::int32_t>(count, buffer, DrawInteger);
}

float* GenerateFLOAT(std::uint64_t count, AppCore::CharBuffer& buffer) {
    return Generate<float>(count, buffer, DrawReal<float>);
}

std::int64_t* GenerateBIGINT(std::uint64_t count, AppCore::CharBuffer& buffer) {
    return Generate<std::int64_t>(count, buffer, DrawInteger);
}

double* GenerateBIGFLOAT(std::uint64_t count, AppCore::CharBuffer& buffer) {
    return Generate<double>(count, buffer, DrawReal<double>);
}
