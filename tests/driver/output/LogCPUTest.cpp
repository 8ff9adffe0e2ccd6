#include "driver/output/LogCPU.h"

#include <string>

#include <gtest/gtest.h>

#include "driver/machine/CpuReportLines.h"

namespace {

std::string CPULines(const std::string& cpuinfo) {
    std::string text;
    for (const std::string& line : CpuReportLines(cpuinfo)) text += line + "\n";
    return text;
}

constexpr const char* kBlock =
    "processor\t: 0\n"
    "vendor_id\t: GenuineExample\n"
    "cpu family\t: 6\n"
    "model\t\t: 85\n"
    "model name\t: Example CPU @ 2.40GHz\n"
    "cpu MHz\t\t: 1800.000\n"
    "cache size\t: 8192 KB\n"
    "cpu cores\t: 4\n"
    "flags\t\t: fpu vme de pse\n"
    "bogomips\t: 4800.00\n"
    "\n";

}  // namespace

TEST(CPUInfoParser, reports_the_five_keys_of_the_first_block_until_flags) {
    const std::string twoBlocks = std::string(kBlock) + kBlock;
    EXPECT_EQ(CPULines(twoBlocks),
              "  vendor_id: GenuineExample\n"
              "  model name: Example CPU 2.40GHz\n"
              "  cpu MHz: 1800.000\n"
              "  cache size: 8192 KB\n"
              "  cpu cores: 4\n");
}

TEST(CPUInfoParser, flags_before_cpu_cores_hides_it) {
    EXPECT_EQ(CPULines("vendor_id\t: V\nflags\t: sse\ncpu cores\t: 2\n"), "  vendor_id: V\n");
}

TEST(CPUInfoParser, without_flags_every_block_is_reported) {
    const std::string block = "vendor_id\t: V\ncpu family\t: 6\nmodel name\t: M\n\n";
    EXPECT_EQ(CPULines(block + block), "  vendor_id: V\n  model name: M\n  vendor_id: V\n  model name: M\n");
}

TEST(CPUInfoParser, spaces_survive_only_before_letters_and_digits) {
    // The space before "@" takes the "@" with it; a space before a tab takes the tab.
    EXPECT_EQ(CPULines("model name\t: A @ 1 (x)\n"), "  model name: A 1x)\n");
    // A doubled space inside a key drops both, so the key no longer matches.
    EXPECT_EQ(CPULines("cache  size\t: 1 KB\n"), "");
    // A space before the newline takes the newline: the line never completes.
    EXPECT_EQ(CPULines("cpu cores\t: 4 \nvendor_id\t: V\n"), "  vendor_id: V\n");
}

TEST(CPUInfoParser, tabs_and_later_colons_are_dropped) {
    EXPECT_EQ(CPULines("cpu\tMHz\t\t: 1800.000\n"), "");  // the key reads "cpuMHz"
    EXPECT_EQ(CPULines("vendor_id\t\t:\tA:B:C\n"), "  vendor_id:ABC\n");
    EXPECT_EQ(CPULines("model name: x\n"), "  model name: x\n");
}

TEST(CPUInfoParser, keys_match_exactly_and_need_a_newline) {
    EXPECT_EQ(CPULines("Vendor_id\t: V\nvendor_id2\t: V\nmodel\t: M\n"), "");
    EXPECT_EQ(CPULines("vendor_id\t: V"), "");
    EXPECT_EQ(CPULines(""), "");
}

TEST(SystemReport, renders_the_kernel_and_the_cpu_lines_under_their_banners) {
    MachineFacts facts;
    EXPECT_EQ(LogCPU::ReportText(facts),
              "----------------------------- OS INFO -----------------------------\n"
              "----------------------------- CPU INFO -----------------------------\n");
    facts.kernel = KernelFacts{"6.1.0-9", "#1 SMP Debian", "x86_64"};
    facts.cpuReportLines = {"  vendor_id: V", "  cpu cores: 4"};
    EXPECT_EQ(LogCPU::ReportText(facts),
              "----------------------------- OS INFO -----------------------------\n"
              "  release: 6.1.0-9\n"
              "  version: #1 SMP Debian\n"
              "  machine: x86_64\n"
              "----------------------------- CPU INFO -----------------------------\n"
              "  vendor_id: V\n"
              "  cpu cores: 4\n");
}
