#include "driver/machine/MachineFacts.h"

#include <clocale>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/TempDirectory.h"

namespace {

void Write(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    TestSupport::WriteWholeFile(path, text);
}

}  // namespace

TEST(MachineFacts, every_fact_comes_from_its_file_whatever_the_locale) {
    TestSupport::TempDirectory directory;
    SystemPaths paths;
    paths.loadAverage = directory.File("loadavg");
    paths.cpuinfo = directory.File("cpuinfo");
    paths.cpuDirectory = directory.File("cpu");
    paths.transparentHugePages = directory.File("thp");
    paths.onlineCpus = 3;
    paths.hostName = "bench-host";
    Write(paths.loadAverage, "1.25 0.75 0.50 2/345 6789\n");
    Write(paths.cpuinfo, "processor\t: 0\ncpu MHz\t\t: 2599.998\nflags\t\t: fpu sse\n");
    Write(paths.cpuDirectory + "/cpu0/cpufreq/scaling_governor", "performance\n");
    Write(paths.cpuDirectory + "/cpu1/cpufreq/scaling_governor", "powersave\n");
    Write(paths.cpuDirectory + "/cpu0/cache/index0/type", "Data\n");
    Write(paths.cpuDirectory + "/cpu0/cache/index0/level", "1\n");
    Write(paths.cpuDirectory + "/cpu0/cache/index0/size", "48K\n");
    Write(paths.cpuDirectory + "/cpu0/cache/index0/shared_cpu_map", "00000000,00000003\n");
    Write(paths.cpuDirectory + "/cpu0/cache/index1/type", "Unified\n");
    Write(paths.cpuDirectory + "/cpu0/cache/index1/level", "3\n");
    Write(paths.cpuDirectory + "/cpu0/cache/index1/size", "8M\n");
    Write(paths.transparentHugePages, "always [madvise] never\n");
    // A decimal-comma locale, where the machine has one, must not change a figure.
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    (void)std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const MachineFacts facts = ReadMachineFacts(paths);
    (void)std::setlocale(LC_ALL, previous.c_str());

    EXPECT_EQ(facts.loadAverages, (std::vector<double>{1.25, 0.75, 0.50}));
    EXPECT_EQ(facts.Load(), 1.25);
    EXPECT_EQ(facts.onlineCpus, 3);
    EXPECT_EQ(facts.governors, (std::vector<std::string>{"performance", "powersave"}));
    EXPECT_EQ(facts.Governor(), "performance");
    EXPECT_TRUE(facts.FrequencyScaling());
    EXPECT_EQ(facts.cpuMhz, 2600);
    EXPECT_EQ(facts.hypervisor, false);
    EXPECT_EQ(facts.transparentHugePages, "madvise");
    EXPECT_EQ(facts.hostName, "bench-host");
    ASSERT_EQ(facts.caches.size(), 2u);
    EXPECT_EQ(facts.caches[0].type, "Data");
    EXPECT_EQ(facts.caches[0].bytes, 48u * 1024);
    EXPECT_EQ(facts.caches[0].sharingCpus, 2u);
    EXPECT_EQ(facts.caches[1].level, 3u);
    EXPECT_EQ(facts.caches[1].bytes, 8u << 20);

    TestSupport::TempDirectory empty;
    SystemPaths missing = paths;
    missing.loadAverage = empty.File("loadavg");
    missing.cpuinfo = empty.File("cpuinfo");
    missing.cpuDirectory = empty.File("cpu");
    const MachineFacts unknown = ReadMachineFacts(missing);
    EXPECT_FALSE(unknown.Load());
    EXPECT_EQ(unknown.Governor(), "");
    EXPECT_FALSE(unknown.FrequencyScaling());
    EXPECT_EQ(unknown.cpuMhz, 0);
    EXPECT_TRUE(unknown.caches.empty());
}
