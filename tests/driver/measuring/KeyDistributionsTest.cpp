#include "driver/measuring/KeyDistributions.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
#include <map>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "driver/measuring/TestData.h"

using AppCore::CharBuffer;

namespace {

constexpr std::uint64_t kCount = 100000;

template <typename Element>
std::vector<Element> Keys(Distribution distribution, std::uint64_t count = kCount, std::uint64_t seed = 11) {
    ReseedTestData(seed);
    CharBuffer buffer;
    const Element* keys = GenerateKeys<Element>(distribution, count, buffer);
    EXPECT_EQ(buffer.size, count * sizeof(Element));
    return {keys, keys + count};
}

template <typename Element>
std::vector<Element> GeneratorKeys(std::uint64_t count = kCount, std::uint64_t seed = 11) {
    ReseedTestData(seed);
    CharBuffer buffer;
    const Element* keys;
    if constexpr (std::is_same_v<Element, std::int32_t>) keys = GenerateINT(count, buffer);
    if constexpr (std::is_same_v<Element, float>) keys = GenerateFLOAT(count, buffer);
    if constexpr (std::is_same_v<Element, std::int64_t>) keys = GenerateBIGINT(count, buffer);
    if constexpr (std::is_same_v<Element, double>) keys = GenerateBIGFLOAT(count, buffer);
    return {keys, keys + count};
}

// Occurrences per value, most frequent first.
template <typename Element>
std::vector<std::uint64_t> Frequencies(const std::vector<Element>& keys) {
    std::map<Element, std::uint64_t> counts;
    for (Element key : keys) ++counts[key];
    std::vector<std::uint64_t> frequencies;
    for (const auto& [value, occurrences] : counts) frequencies.push_back(occurrences);
    std::sort(frequencies.begin(), frequencies.end(), std::greater<>());
    return frequencies;
}

template <typename Element>
class KeyDistributions : public testing::Test {};
using ElementTypes = testing::Types<std::int32_t, float, std::int64_t, double>;
TYPED_TEST_SUITE(KeyDistributions, ElementTypes);

}  // namespace

TYPED_TEST(KeyDistributions, uniform_draws_exactly_what_the_type_generator_draws) {
    EXPECT_EQ(Keys<TypeParam>(Distribution::Uniform), GeneratorKeys<TypeParam>());
}

TYPED_TEST(KeyDistributions, sorted_and_reverse_order_the_generator_draws) {
    std::vector<TypeParam> ascending = GeneratorKeys<TypeParam>();
    std::sort(ascending.begin(), ascending.end());
    EXPECT_EQ(Keys<TypeParam>(Distribution::Sorted), ascending);
    const std::vector<TypeParam> descending(ascending.rbegin(), ascending.rend());
    EXPECT_EQ(Keys<TypeParam>(Distribution::Reverse), descending);
}

TYPED_TEST(KeyDistributions, nearly_sorted_permutes_the_generator_draws_with_few_disorders) {
    const std::vector<TypeParam> keys = Keys<TypeParam>(Distribution::NearlySorted);
    std::uint64_t disorders = 0;
    for (std::uint64_t i = 1; i < kCount; ++i) disorders += keys[i] < keys[i - 1];
    // Each of the count/100 swaps breaks at most two neighbour pairs.
    EXPECT_LE(disorders, kCount / 50);
    EXPECT_GE(disorders, kCount / 200);
    std::vector<TypeParam> sorted = keys, drawn = GeneratorKeys<TypeParam>();
    std::sort(sorted.begin(), sorted.end());
    std::sort(drawn.begin(), drawn.end());
    EXPECT_EQ(sorted, drawn);
}

TYPED_TEST(KeyDistributions, few_unique_and_equal_have_16_and_1_values) {
    EXPECT_EQ(Frequencies(Keys<TypeParam>(Distribution::FewUnique)).size(), 16u);
    EXPECT_EQ(Frequencies(Keys<TypeParam>(Distribution::Equal)).size(), 1u);
}

TYPED_TEST(KeyDistributions, zipf_ranks_follow_one_over_rank) {
    const std::vector<std::uint64_t> frequencies = Frequencies(Keys<TypeParam>(Distribution::Zipf, 200000));
    ASSERT_LE(frequencies.size(), 65536u);
    // P(rank 1) = 1 / H(65536) ~ 8.57%, P(rank 2) half of that.
    EXPECT_NEAR(frequencies[0] / 200000.0, 0.0857, 0.006);
    EXPECT_NEAR(frequencies[1] / 200000.0, 0.0428, 0.004);
    EXPECT_GT(frequencies.size(), 20000u);
}

TYPED_TEST(KeyDistributions, skewed_sets_one_bit_in_eight_and_stays_finite) {
    using Word = std::conditional_t<sizeof(TypeParam) == 4, std::uint32_t, std::uint64_t>;
    const std::vector<TypeParam> keys = Keys<TypeParam>(Distribution::Skewed);
    double bits = 0;
    for (TypeParam key : keys) {
        if constexpr (std::is_floating_point_v<TypeParam>) {
            ASSERT_TRUE(std::isfinite(key));
        }
        bits += std::popcount(std::bit_cast<Word>(key));
    }
    EXPECT_NEAR(bits / kCount, sizeof(TypeParam) * 8 / 8.0, 0.1);
}

TYPED_TEST(KeyDistributions, a_seed_fixes_the_keys_and_count_zero_draws_nothing) {
    for (Distribution distribution : AllDistributions()) {
        SCOPED_TRACE(DistributionName(distribution));
        EXPECT_EQ(Keys<TypeParam>(distribution, 5000, 3), Keys<TypeParam>(distribution, 5000, 3));
        EXPECT_NE(Keys<TypeParam>(distribution, 5000, 3), Keys<TypeParam>(distribution, 5000, 4));

        CharBuffer buffer(64);
        ReseedTestData(99);
        GenerateKeys<TypeParam>(distribution, 0, buffer);
        EXPECT_EQ(buffer.size, 0u);
        const std::uint64_t next = TestDataEngine()();
        ReseedTestData(99);
        EXPECT_EQ(TestDataEngine()(), next);
    }
}

TEST(DistributionList, parses_names_in_order_each_once_or_names_the_valid_ones) {
    using D = Distribution;
    const std::vector<D> all = {D::Uniform,   D::Sorted, D::Reverse, D::NearlySorted,
                                D::FewUnique, D::Equal,  D::Zipf,    D::Skewed};
    struct Case {
        const char* list;
        bool valid;
        std::vector<D> expected;
        const char* repeated = "";
    };
    const Case cases[] = {
        {"uniform", true, {D::Uniform}},
        {"zipf,sorted,nearly-sorted", true, {D::Zipf, D::Sorted, D::NearlySorted}},
        {"few-unique,equal,reverse,skewed", true, {D::FewUnique, D::Equal, D::Reverse, D::Skewed}},
        {"equal,equal", true, {D::Equal}, "equal"},
        {"sorted,zipf,sorted,zipf", true, {D::Sorted, D::Zipf}, "sorted, zipf"},
        {"all", true, all},
        {"all,zipf", true, all, "zipf"},
        {"zipf,all,all", true, all, "zipf, all"},
        {"foo", false, {}},
        {"sorted,Zipf", false, {}},
        {"", false, {}},
        {"sorted,,zipf", false, {}},
        {"sorted,", false, {}},
        {",sorted", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        std::vector<D> parsed = {D::Skewed};
        std::string error;
        std::string repeated;
        ASSERT_EQ(ParseDistributionList(c.list, parsed, error, &repeated), c.valid);
        if (c.valid) {
            EXPECT_EQ(parsed, c.expected);
            EXPECT_EQ(repeated, c.repeated);
        } else {
            EXPECT_NE(error.find("uniform, sorted, reverse, nearly-sorted, few-unique, equal, zipf, skewed, all"),
                      std::string::npos);
            EXPECT_EQ(error.find('\n'), std::string::npos);
        }
    }
    std::string error;
    std::vector<D> parsed;
    ParseDistributionList("uniform,foo", parsed, error);
    EXPECT_EQ(error,
              "-D: unknown distribution 'foo'; valid names: uniform, sorted, reverse, nearly-sorted, few-unique, "
              "equal, zipf, skewed, all");
}
