#include "support/Tools.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

using AppCore::Tools::SplitRange;
using Bounds = std::vector<unsigned long>;

TEST(SplitRange, gives_longer_pieces_first) {
    EXPECT_EQ(SplitRange(10, 10, 4), (Bounds{10, 13, 16, 18, 20}));
    EXPECT_EQ(SplitRange(0, 3, 5), (Bounds{0, 1, 2, 3, 3, 3}));
    EXPECT_EQ(SplitRange(0, 10, 4), (Bounds{0, 3, 6, 8, 10}));
}

TEST(SplitRange, four_argument_form_limits_the_parts_by_piece_length) {
    EXPECT_EQ(SplitRange(0, 100, 8, 30), (Bounds{0, 25, 50, 75, 100}));
    EXPECT_EQ(SplitRange(0, 100, 2, 30), (Bounds{0, 50, 100}));
    EXPECT_EQ(SplitRange(5, 0, 8, 30), (Bounds{5}));
}

TEST(SplitRange, rejects_part_counts_it_cannot_represent) {
    EXPECT_THROW(SplitRange(0, 10, 0u), std::invalid_argument);
    EXPECT_THROW(SplitRange(0, 10, 4294967295u), std::invalid_argument);
    EXPECT_THROW(SplitRange(0, 10, 4u, 0ul), std::invalid_argument);
}

TEST(GetBinaryFileContents, reads_every_byte) {
    const std::string path = ::testing::TempDir() + "tools_bytes.bin";
    {
        std::ofstream out(path, std::ios::binary);
        out.write("a\0b\xff", 4);
    }
    const auto bytes = AppCore::Tools::GetBinaryFileContents(path);
    EXPECT_EQ(bytes, (std::vector<unsigned char>{'a', 0, 'b', 0xff}));
    std::ofstream(path, std::ios::trunc).close();
    EXPECT_TRUE(AppCore::Tools::GetBinaryFileContents(path).empty());
    std::remove(path.c_str());
}

TEST(GetBinaryFileContents, missing_file_throws_with_its_path) {
    try {
        AppCore::Tools::GetBinaryFileContents("/nonexistent/x.spv");
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Could not open \"/nonexistent/x.spv\" file!");
    }
}

TEST(GetStampYMDHMS, is_twelve_digits) {
    const std::string stamp = AppCore::Tools::GetStampYMDHMS();
    ASSERT_EQ(stamp.size(), 12u);
    EXPECT_EQ(stamp.find_first_not_of("0123456789"), std::string::npos);
}
