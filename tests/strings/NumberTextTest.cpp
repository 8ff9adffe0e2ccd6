#include "strings/NumberText.h"

#include <climits>
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

using SLib::STR_DecimalRound;
using SLib::STR_FromNum;

namespace {
std::string Rounded(std::string text, int decimals) {
    STR_DecimalRound(text, decimals);
    return text;
}
std::string Trimmed(std::string text, int minDecimals, int noiseFrom) {
    SLib::Impl::PrecisionTrim(text, minDecimals, noiseFrom);
    return text;
}
}  // namespace

TEST(STR_FromNum, integer_text_covers_the_whole_range) {
    EXPECT_EQ(STR_FromNum(0), "0");
    EXPECT_EQ(STR_FromNum(-17), "-17");
    EXPECT_EQ(STR_FromNum(INT_MIN), "-2147483648");
    EXPECT_EQ(STR_FromNum(INT_MAX), "2147483647");
}

TEST(STR_FromNum, fixed_precision_is_exact) {
    EXPECT_EQ(STR_FromNum(1.5, 12), "1.500000000000");
    EXPECT_EQ(STR_FromNum(0.1234567890126, 12), "0.123456789013");
    EXPECT_EQ(STR_FromNum(-2.0, 0), "-2");
}

TEST(STR_FromNum, huge_values_fall_back_to_exponent_form) {
    EXPECT_EQ(STR_FromNum(1e300, 12), "1.000000000000e+300");
    EXPECT_EQ(STR_FromNum(-2.5e200, 3), "-2.500e+200");
    // No trimming once an exponent is present.
    EXPECT_EQ(STR_FromNum(1e300, 0, 12, 15), "1.000000000000e+300");
    EXPECT_EQ(STR_FromNum(std::numeric_limits<double>::infinity(), 0, 12, 15), "inf");
}

TEST(STR_FromNum, time_cells_are_trimmed_as_the_result_files_expect) {
    const struct {
        double value;
        const char* cell;
    } cases[] = {
        {12.3456789, "12.3456789"},
        {5.0, "5"},
        {0.1234567890126, "0.123456789013"},
        {0.123999999999, "0.124"},
        {99.9999999999999, "100"},
        {-0.5, "-0.5"},
        {0.0000000000004, "0"},
        {0.0, "0"},
        {-0.0000000000004, "-0"},
        {0.008543, "0.008543"},
        {1234567.25, "1234567.25"},
        {0.1, "0.1"},
    };
    for (const auto& c : cases) EXPECT_EQ(STR_FromNum(c.value, 0, 12, 15), c.cell) << c.value;
}

TEST(STR_DecimalRound, only_the_first_dropped_digit_decides) {
    EXPECT_EQ(Rounded("0.45", 1), "0.5");
    EXPECT_EQ(Rounded("0.449", 1), "0.4");
    EXPECT_EQ(Rounded("1.25", 5), "1.25");
    EXPECT_EQ(Rounded("125", 0), "125");
}

TEST(STR_DecimalRound, carries_walk_to_the_front) {
    EXPECT_EQ(Rounded("9.99", 0), "10");
    EXPECT_EQ(Rounded("-9.99", 0), "-10");
    EXPECT_EQ(Rounded("99.97", 1), "100.0");
    EXPECT_EQ(Rounded("0.999", 2), "1.00");
    EXPECT_EQ(Rounded("1.2999", 3), "1.300");
}

TEST(PrecisionTrim, never_pads_and_never_trims_below_the_minimum) {
    EXPECT_EQ(Trimmed("1.50", 5, 15), "1.50");
    EXPECT_EQ(Trimmed("1.500", 1, 15), "1.5");
    EXPECT_EQ(Trimmed("1.500", 2, 15), "1.50");
    EXPECT_EQ(Trimmed("100", 0, 15), "100");
}

TEST(PrecisionTrim, short_runs_of_nines_stay) {
    EXPECT_EQ(Trimmed("0.12399", 0, 15), "0.12399");
    EXPECT_EQ(Trimmed("0.123999", 0, 15), "0.124");
    EXPECT_EQ(Trimmed("0.1235", 0, 15), "0.1235");
}

TEST(PrecisionTrim, last_digit_counts_as_noise_in_long_formats) {
    EXPECT_EQ(Trimmed("0.1000000000000002", 0, 15), "0.1");
    EXPECT_EQ(Trimmed("0.1299999999999997", 0, 15), "0.13");
    // Two nines and a noise digit make a run of three.
    EXPECT_EQ(Trimmed("0.1234567890123997", 0, 15), "0.1234567890124");
}
