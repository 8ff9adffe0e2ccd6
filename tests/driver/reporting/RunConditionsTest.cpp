#include "driver/reporting/RunConditions.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TempDirectory.h"

namespace {

// Every path points into `directory`, where no file exists until a test writes one.
SystemPaths FakePaths(const TestSupport::TempDirectory& directory) {
    SystemPaths paths;
    paths.loadAverage = directory.File("loadavg");
    paths.cpuinfo = directory.File("cpuinfo");
    paths.cpuDirectory = directory.File("cpu");
    paths.transparentHugePages = directory.File("thp");
    paths.onlineCpus = 2;
    paths.hostName = "host";
    return paths;
}

RunConditions ReadRunConditions(const std::vector<std::string>& arguments, const SystemPaths& paths) {
    return RunConditionsOf(ReadMachineFacts(paths), arguments, 1765000000);
}

}  // namespace

TEST(RunConditions, missing_files_report_every_fact_as_unknown) {
    TestSupport::TempDirectory directory;
    const RunConditions conditions = ReadRunConditions({}, FakePaths(directory));
    EXPECT_EQ(RunConditionLines(conditions),
              (std::vector<std::string>{"----------------------------- RUN CONDITIONS -----------------------------",
                                        "Load average: unknown (2 CPUs online)", "CPU frequency governor: not exposed",
                                        "Transparent huge pages: unknown", "Hypervisor: unknown", "Options: none",
                                        "Seed: 1765000000", "Version: " + std::string(ProgramVersion())}));
    EXPECT_TRUE(RunConditionWarnings(conditions).empty());
    EXPECT_STRNE(ProgramVersion(), "");
}

TEST(RunConditions, each_fact_is_read_from_its_file) {
    const std::string governor = "/cpu0/cpufreq/scaling_governor";
    const struct {
        std::string SystemPaths::*file;
        const char* below;
        const char* content;
        size_t line;
        const char* expected;
    } cases[] = {
        {&SystemPaths::loadAverage, "", "0.52 0.40 0.31 1/234 5678\n", 1, "Load average: 0.52 (2 CPUs online)"},
        {&SystemPaths::loadAverage, "", "busy\n", 1, "Load average: unknown (2 CPUs online)"},
        {&SystemPaths::cpuDirectory, governor.c_str(), "powersave\n", 2, "CPU frequency governor: powersave"},
        {&SystemPaths::transparentHugePages, "", "always [madvise] never\n", 3, "Transparent huge pages: madvise"},
        {&SystemPaths::cpuinfo, "", "processor\t: 0\nflags\t\t: fpu hypervisor sse\n", 4, "Hypervisor: yes"},
        {&SystemPaths::cpuinfo, "", "flags\t\t: fpu hypervisors sse\nflags\t: hypervisor\n", 4, "Hypervisor: no"},
    };
    for (const auto& c : cases) {
        TestSupport::TempDirectory directory;
        const SystemPaths paths = FakePaths(directory);
        const std::filesystem::path file = paths.*c.file + c.below;
        std::filesystem::create_directories(file.parent_path());
        TestSupport::WriteWholeFile(file.string(), c.content);
        EXPECT_EQ(RunConditionLines(ReadRunConditions({"-S", "100"}, paths)).at(c.line), c.expected) << c.content;
    }
}

TEST(RunConditions, warns_of_load_above_a_quarter_of_the_cpus_and_of_a_varying_governor) {
    // kinds: 'L' for a load warning, 'G' for a governor warning, in order.
    const struct {
        std::optional<double> load;
        int cpus;
        const char* governor;
        const char* kinds;
    } cases[] = {
        {0.50, 2, "performance", ""},        {0.51, 2, "performance", "L"}, {0.10, 8, "", ""},
        {std::nullopt, 2, "powersave", "G"}, {4.00, 4, "schedutil", "LG"},
    };
    for (const auto& c : cases) {
        RunConditions conditions;
        conditions.loadAverage = c.load;
        conditions.onlineCpus = c.cpus;
        conditions.governor = c.governor;
        std::string kinds;
        for (const std::string& warning : RunConditionWarnings(conditions)) {
            EXPECT_EQ(warning.rfind("WARNING: ", 0), 0u) << warning;
            kinds += warning.find("load average") != std::string::npos ? 'L' : 'G';
        }
        EXPECT_EQ(kinds, c.kinds) << c.cpus << " CPUs, governor '" << c.governor << "'";
    }
}
