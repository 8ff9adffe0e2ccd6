#include "strings/ShellWords.h"

#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(JoinShellWords, joins_arguments_after_the_program_quoting_those_a_shell_would_split) {
    const struct {
        std::vector<const char*> argv;
        const char* expected;
    } cases[] = {
        {{"sortbench"}, ""},
        {{"sortbench", "-S", "10000000", "-R", "9"}, "-S 10000000 -R 9"},
        {{"sortbench", "-D", "/tmp/my runs"}, "-D '/tmp/my runs'"},
        {{"sortbench", "it's", ""}, "'it'\\''s' ''"},
        {{"sortbench", "-O", "x\nHypervisor: no\nWARNING: none"}, "-O $'x\\nHypervisor: no\\nWARNING: none'"},
        {{"sortbench", "\033[2J", "a'b\\\t"}, "$'\\x1b[2J' $'a\\'b\\\\\\t'"},
        {{"sortbench", "A\xc2\x9bK", "\xe2\x80\xae"}, "$'A\\xc2\\x9bK' $'\\xe2\\x80\\xae'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SLib::JoinShellWords(static_cast<int>(c.argv.size()), c.argv.data()), c.expected);
    }
}

}  // namespace
