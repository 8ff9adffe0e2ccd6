#include "driver/machine/ProcessMemory.h"

#include <fstream>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "driver/machine/LimitsText.h"
#include "tests/support/TempDirectory.h"

namespace {

struct RollupCase {
    const char* text;
    std::optional<ProcessMemory> expected;
    const char* line;
};

const RollupCase kRollups[] = {
    {"Rss:  900 kB\nAnonymous:     2097152 kB\nLazyFree: 0 kB\nAnonHugePages:   1048576 kB\n",
     ProcessMemory{.anonymousBytes = 2ull << 30, .hugePageBytes = 1ull << 30},
     "Huge pages: 1024 MiB of 2048 MiB of anonymous memory (50%), at the largest data set"},
    {"Anonymous: 0 kB\nAnonHugePages: 0 kB\n", ProcessMemory{},
     "Huge pages: 0 MiB of 0 MiB of anonymous memory (0%), at the largest data set"},
    {"Anonymous: 2048 kB\n", std::nullopt, "Huge pages: unknown (no /proc/self/smaps_rollup)"},
    {"Anonymous: 2048 MB\nAnonHugePages: 0 kB\n", std::nullopt, "Huge pages: unknown (no /proc/self/smaps_rollup)"},
};

}  // namespace

TEST(ProcessMemory, reads_the_anonymous_and_huge_page_figures_or_nothing) {
    const TestSupport::TempDirectory directory;
    for (const RollupCase& rollup : kRollups) {
        std::ofstream(directory.File("rollup")) << rollup.text;
        const std::optional<ProcessMemory> read = ReadProcessMemory(directory.File("rollup"));
        ASSERT_EQ(read.has_value(), rollup.expected.has_value()) << rollup.text;
        if (read) {
            EXPECT_EQ(read->anonymousBytes, rollup.expected->anonymousBytes) << rollup.text;
            EXPECT_EQ(read->hugePageBytes, rollup.expected->hugePageBytes) << rollup.text;
        }
        EXPECT_EQ(HugePagesLine(read), rollup.line);
    }
    EXPECT_FALSE(ReadProcessMemory(directory.File("missing")));
    EXPECT_TRUE(ReadProcessMemory());
}
