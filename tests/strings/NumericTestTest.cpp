#include "strings/NumericTest.h"

#include <gtest/gtest.h>

TEST(STR_IsNum, accepts_plain_decimal_numbers) {
    for (const char* text : {"250", "+250", "-5", "1.5", "1.", ".5", "-.", "+.", "0", "007", "-1.25"})
        EXPECT_TRUE(SLib::STR_IsNum(text)) << text;
}

TEST(STR_IsNum, rejects_everything_else) {
    for (const char* text : {"", ".", "-", "+", "1e6", "1,000", "1.2.3", " 1", "1 ", "1 2", "abc", "..5", ".5.", "-1-",
                             "--1", "+-1", "0x10", ".-"})
        EXPECT_FALSE(SLib::STR_IsNum(text)) << '"' << text << '"';
}
