#include "driver/measuring/KeyDistributions.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <new>
#include <type_traits>
#include <unordered_set>
#include <utility>

#include "driver/measuring/TestData.h"
#include "support/DataTypes.h"

using AppCore::CharBuffer;

namespace {

constexpr std::array kNames = {"uniform",    "sorted", "reverse", "nearly-sorted",
                               "few-unique", "equal",  "zipf",    "skewed"};
constexpr std::uint64_t kFewUniqueValues = 16;
constexpr std::uint64_t kZipfValues = 65536;

template <typename Element>
using Bits = std::conditional_t<sizeof(Element) == 4, std::uint32_t, std::uint64_t>;

template <typename Element>
Element* TypeGenerator(std::uint64_t count, CharBuffer& buffer) {
    if constexpr (std::is_same_v<Element, std::int32_t>) return GenerateINT(count, buffer);
    if constexpr (std::is_same_v<Element, float>) return GenerateFLOAT(count, buffer);
    if constexpr (std::is_same_v<Element, std::int64_t>) return GenerateBIGINT(count, buffer);
    if constexpr (std::is_same_v<Element, double>) return GenerateBIGFLOAT(count, buffer);
}

// `number` distinct values from the type's generator, in the order drawn.
template <typename Element>
std::vector<Element> DistinctValues(std::uint64_t number) {
    std::vector<Element> values;
    values.reserve(number);
    std::unordered_set<Bits<Element>> seen;
    CharBuffer one;
    while (values.size() < number) {
        const Element value = *TypeGenerator<Element>(1, one);
        if (seen.insert(std::bit_cast<Bits<Element>>(value)).second) values.push_back(value);
    }
    return values;
}

// cumulative[r - 1] = H(r) = 1 + 1/2 + ... + 1/r.
const std::vector<double>& ZipfCumulative() {
    static const std::vector<double> table = [] {
        std::vector<double> cumulative(kZipfValues);
        double sum = 0;
        for (std::uint64_t rank = 1; rank <= kZipfValues; ++rank) cumulative[rank - 1] = sum += 1.0 / rank;
        return cumulative;
    }();
    return table;
}

// Inverse CDF: the first rank whose cumulative weight exceeds a uniform draw.
std::uint64_t DrawZipfIndex() {
    const std::vector<double>& cumulative = ZipfCumulative();
    const double target = static_cast<double>(TestDataEngine()() >> 11) * 0x1p-53 * cumulative.back();
    const auto found = std::upper_bound(cumulative.begin(), cumulative.end(), target);
    return std::min<std::uint64_t>(found - cumulative.begin(), kZipfValues - 1);
}

template <typename Element>
Element DrawSkewed() {
    using Word = Bits<Element>;
    // One engine word per draw; 32-bit elements keep its low half.
    const auto draw = [] { return static_cast<Word>(TestDataEngine()()); };
    for (;;) {
        const Word a = draw(), b = draw(), c = draw();
        const auto value = std::bit_cast<Element>(static_cast<Word>(a & b & c));
        if constexpr (std::is_floating_point_v<Element>)
            if (!std::isfinite(value)) continue;
        return value;
    }
}

template <typename Element>
Element* FromTable(const std::vector<Element>& table, std::uint64_t count, Element* keys,
                   std::uint64_t (*drawIndex)()) {
    for (std::uint64_t i = 0; i < count; ++i) keys[i] = table[drawIndex()];
    return keys;
}

}  // namespace

const char* DistributionName(Distribution distribution) { return kNames[static_cast<std::size_t>(distribution)]; }

std::vector<Distribution> AllDistributions() {
    std::vector<Distribution> all;
    for (std::size_t i = 0; i < kNames.size(); ++i) all.push_back(static_cast<Distribution>(i));
    return all;
}

bool ParseDistributionList(const std::string& list, std::vector<Distribution>& out, std::string& error,
                           std::string* repeated) {
    out.clear();
    if (repeated != nullptr) repeated->clear();
    const auto fail = [&error](const std::string& problem) {
        error = "-D: " + problem + "; valid names: ";
        for (const char* name : kNames) error += std::string(name) + ", ";
        error += "all";
        return false;
    };
    if (list.empty()) return fail("empty distribution list");
    // Each distribution's result files are opened once per run, so a name given
    // twice must not make a second series of the same files.
    std::vector<bool> named(kNames.size(), false);
    bool all = false;
    // Each repeated name is listed once, "all" after the distributions.
    std::vector<bool> listed(kNames.size() + 1, false);
    const auto noteRepeat = [repeated, &listed](std::size_t index, const char* name) {
        if (repeated == nullptr || listed[index]) return;
        listed[index] = true;
        if (!repeated->empty()) *repeated += ", ";
        *repeated += name;
    };
    for (std::size_t start = 0;;) {
        const std::size_t comma = list.find(',', start);
        const std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (name.empty()) return fail("empty distribution name in '" + list + "'");
        if (name == "all") {
            if (all) noteRepeat(kNames.size(), "all");
            for (std::size_t i = 0; i < kNames.size(); ++i) {
                if (named[i]) noteRepeat(i, kNames[i]);
            }
            all = true;
        } else {
            const auto known = std::find_if(kNames.begin(), kNames.end(),
                                            [&name](const char* candidate) { return name == candidate; });
            if (known == kNames.end()) return fail("unknown distribution '" + name + "'");
            const auto index = static_cast<std::size_t>(known - kNames.begin());
            if (named[index] || all) {
                noteRepeat(index, *known);
            } else {
                out.push_back(static_cast<Distribution>(index));
            }
            named[index] = true;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (all) out = AllDistributions();
    return true;
}

// Keys the generator does not draw are sized for before anything is drawn, so a
// failure leaves the engine untouched.
template <typename Element>
Element* GenerateKeys(Distribution distribution, std::uint64_t count, CharBuffer& buffer) {
    switch (distribution) {
    case Distribution::Uniform: return TypeGenerator<Element>(count, buffer);
    case Distribution::Sorted:
    case Distribution::NearlySorted: {
        Element* keys = TypeGenerator<Element>(count, buffer);
        std::sort(keys, keys + count);
        if (distribution == Distribution::NearlySorted && count >= 2) {
            const std::uint64_t swaps = std::max<std::uint64_t>(count / 100, 1);
            for (std::uint64_t s = 0; s < swaps; ++s) {
                const std::uint64_t position = DrawBelow(count);
                std::swap(keys[position], keys[DrawBelow(count)]);
            }
        }
        return keys;
    }
    case Distribution::Reverse: {
        Element* keys = TypeGenerator<Element>(count, buffer);
        std::sort(keys, keys + count, std::greater<>());
        return keys;
    }
    case Distribution::Equal: {
        Element* keys = ResizeForElements<Element>(count, buffer);
        if (count > 0) std::fill(keys, keys + count, DistinctValues<Element>(1)[0]);
        return keys;
    }
    case Distribution::FewUnique: {
        Element* keys = ResizeForElements<Element>(count, buffer);
        if (count == 0) return keys;
        return FromTable(
            DistinctValues<Element>(kFewUniqueValues), count, keys, +[] { return DrawBelow(kFewUniqueValues); });
    }
    case Distribution::Zipf: {
        Element* keys = ResizeForElements<Element>(count, buffer);
        if (count == 0) return keys;
        return FromTable(DistinctValues<Element>(kZipfValues), count, keys, DrawZipfIndex);
    }
    case Distribution::Skewed: {
        Element* keys = ResizeForElements<Element>(count, buffer);
        for (std::uint64_t i = 0; i < count; ++i) keys[i] = DrawSkewed<Element>();
        return keys;
    }
    }
    return nullptr;
}

#define INSTANTIATE(Element) template Element* GenerateKeys<Element>(Distribution, std::uint64_t, CharBuffer&);
SORTBENCH_FOR_EACH_ELEMENT(INSTANTIATE)
#undef INSTANTIATE
