// The option table is the one home of the options: the usage text and the
// README's table may not drift from it (docs/options.md gives rules, not a list).
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "driver/command_line/RunPlan.h"

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(OptionDocs, the_usage_text_and_the_readme_name_every_option) {
    const std::string usage = UsageText();
    const std::string readme = Slurp(SORTBENCH_SOURCE_DIR "/README.md");
    ASSERT_FALSE(readme.empty());
    for (const std::string& spelling : OptionSpellings()) {
        // As a word of its own: "-S" must not be found inside "-S1B".
        const auto named = [&](const std::string& text, const std::string& before, const std::string& after) {
            for (std::size_t at = text.find(before + spelling); at != std::string::npos;
                 at = text.find(before + spelling, at + 1)) {
                const std::size_t end = at + before.size() + spelling.size();
                if (end == text.size() || after.find(text[end]) != std::string::npos) return true;
            }
            return false;
        };
        EXPECT_TRUE(named(usage, " ", " ,\n")) << spelling << " is not in the usage text";
        EXPECT_TRUE(named(readme, "`", " `")) << spelling << " is not in the README's table";
    }
}

}  // namespace
