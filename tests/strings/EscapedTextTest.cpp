#include "strings/EscapedText.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(EscapedControls, escapes_c0_c1_and_bidirectional_controls_byte_by_byte_and_keeps_other_text) {
    const struct {
        std::string text;
        std::string shown;
    } cases[] = {
        {"plain /tmp/r\xc3\xa9sultats \xe2\x80\xa6", "plain /tmp/r\xc3\xa9sultats \xe2\x80\xa6"},
        {"\033[2J\a\x7f", "\\x1b[2J\\x07\\x7f"},
        {"A\xc2\x9bK", "A\\xc2\\x9bK"},                                    // U+009B, CSI
        {"\xc2\x80|\xc2\x9f|\xc2\xa0", "\\xc2\\x80|\\xc2\\x9f|\xc2\xa0"},  // U+00A0 is no control
        {"A\x9bK", "A\\x9bK"},                                             // CSI in an 8-bit character set
        {"\xe9t\xe9", "\xe9t\xe9"},                                        // Latin-1 letters stay
        {"\xe2\x80\xaegpj.exe", "\\xe2\\x80\\xaegpj.exe"},                 // U+202E
        {"\xe2\x80\x8e\xe2\x80\x8f\xe2\x81\xa6\xe2\x81\xa9\xd8\x9c\xe2\x80\xaa",
         "\\xe2\\x80\\x8e\\xe2\\x80\\x8f\\xe2\\x81\\xa6\\xe2\\x81\\xa9\\xd8\\x9c\\xe2\\x80\\xaa"},
        {"\xe2\x80\x8d\xe2\x81\xaa", "\xe2\x80\x8d\xe2\x81\xaa"},  // U+200D, U+206A: no bidi controls
        // Cut or overlong sequences start no character: their 0x80..0x9F bytes are escaped one by one.
        {"\xe2\x80", "\xe2\\x80"},
        {"\xc0\x9b", "\xc0\\x9b"},
        {"\xe0\x82\x9b", "\xe0\\x82\\x9b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SLib::EscapedControls(c.text), c.shown) << c.shown;
        EXPECT_EQ(SLib::EscapedControlsKeepingLines(c.text + "\n\t"), c.shown + "\n\t") << c.shown;
    }
}

}  // namespace
