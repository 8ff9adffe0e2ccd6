#include "cpu_sort/CollationTables.h"

#include <cctype>
#include <set>

#include <gtest/gtest.h>

namespace {

const unsigned char* const withCase = EvalCore::ascii_map_with_case;
const unsigned char* const noCase = EvalCore::ascii_map_no_case;

TEST(CollationTables, case_table_is_a_permutation_and_no_case_table_has_197_weights) {
    EXPECT_EQ(std::set<unsigned char>(withCase, withCase + 256).size(), 256u);
    EXPECT_EQ(std::set<unsigned char>(noCase, noCase + 256).size(), 197u);
    for (int c = 0; c < 0x20; ++c) {
        EXPECT_EQ(withCase[c], c);
        EXPECT_EQ(noCase[c], c);
    }
}

TEST(CollationTables, upper_case_letters_weigh_one_below_lower_case_and_below_the_next_letter) {
    for (int c = 'A'; c <= 'Z'; ++c) {
        EXPECT_EQ(withCase[c] + 1, withCase[c + 32]) << char(c);
        if (c < 'Z') {
            EXPECT_LT(withCase[c + 32], withCase[c + 1]) << char(c);
        }
        EXPECT_EQ(noCase[c] + (c == 'F' ? 1 : 0), noCase[c + 32]) << char(c);
    }
    EXPECT_EQ(withCase['A'], 0x8A);
    EXPECT_EQ(withCase['a'], 0x8B);
    EXPECT_EQ(withCase['B'], 0x9B);
}

TEST(CollationTables, digits_lie_between_punctuation_and_letters_and_DEL_below_blank) {
    for (const unsigned char* table : {withCase, noCase}) {
        for (int c = 0x20; c < 0x7F; ++c) {
            const bool digit = c >= '0' && c <= '9', letter = std::isalpha(c) != 0;
            if (digit) {
                EXPECT_GE(table[c], 0x7A);
                EXPECT_LE(table[c], 0x89);
            }
            if (!digit && !letter) {
                EXPECT_LT(table[c], 0x7A) << char(c);
            }
            if (letter) {
                EXPECT_GT(table[c], 0x86) << char(c);
            }
        }
        EXPECT_EQ(table[' '], 0x21);
        EXPECT_EQ(table[0x7F], 0x20);
    }
}

}  // namespace
