#include "driver/Benchmark.h"

#include <cstdlib>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cpu_sort/WorkerThreads.h"
#include "driver/machine/AvailableMemory.h"
#include "driver/machine/MachineFacts.h"
#include "driver/measuring/MemoryBudget.h"
#include "driver/output/ConsoleText.h"
#include "driver/sorters/Peers.h"
#include "strings/GroupedNumber.h"
#include "tests/driver/CapturedRun.h"
#include "tests/support/TempDirectory.h"

namespace {

using TestSupport::CapturedRun;

// A whole benchmark of `args` in a log directory of its own.
CapturedRun RunCaptured(std::vector<const char*> args) {
    const TestSupport::TempDirectory logDirectory;
    return TestSupport::RunCaptured(TestSupport::PlanFor(std::move(args), logDirectory.Path().string() + "/"));
}

// The lines a sorter prints after the count line, "NAME CPU - 0.012345 ms", must carry a time.
bool IsTimeLine(const std::string& line, const std::string& prefix) {
    if (line.rfind(prefix, 0) != 0 || line.size() < prefix.size() + 4) return false;
    if (line.compare(line.size() - 3, 3, " ms") != 0) return false;
    const std::string number = line.substr(prefix.size(), line.size() - prefix.size() - 3);
    char* end = nullptr;
    std::strtod(number.c_str(), &end);
    return end && *end == '\0' && number.find('.') != std::string::npos;
}

std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& line : lines)
        if (line.rfind(prefix, 0) == 0) found.push_back(line);
    return found;
}

}  // namespace

TEST(BenchmarkRun, min_run_prints_every_data_type_and_count_in_order) {
    const CapturedRun run = RunCaptured({"-MIN"});
    EXPECT_EQ(run.status, kExitComplete);

    const char* types[] = {"INT", "FLOAT", "BIGINT", "BIGFLOAT"};
    const char* counts[] = {"100", "250", "500", "750", "1000"};
    std::vector<std::string> banners = Matching(run.lines, "=====");
    ASSERT_EQ(banners.size(), 4u);
    size_t at = 0;
    for (const char* type : types) {
        const std::string banner = std::string("================================= Running ") + type +
                                   " Benchmark =================================";
        while (at < run.lines.size() && run.lines[at] != banner) ++at;
        ASSERT_LT(at, run.lines.size()) << "missing banner " << banner;
        for (int i = 0; i < 5; ++i) {
            ASSERT_LT(at + 2, run.lines.size());
            EXPECT_EQ(run.lines[++at],
                      std::string("------- Count: ") + counts[i] + ", " + std::to_string(i + 1) + "/5 -------");
            EXPECT_TRUE(IsTimeLine(run.lines[++at], std::string(type) + " CPU - ")) << run.lines[at];
            for (const char* threads : {"1", "2", "4", "8"}) {
                ASSERT_LT(at + 1, run.lines.size());
                const std::string prefix = std::string(type) + " CPU " + threads + " Thread - ";
                EXPECT_TRUE(IsTimeLine(run.lines[++at], prefix)) << run.lines[at];
            }
        }
    }
}

TEST(BenchmarkRun, info_run_stops_before_any_benchmark) {
    const CapturedRun run = RunCaptured({"-INFO", "-MIN"});
    EXPECT_EQ(run.status, kExitInfoOnly);
    EXPECT_TRUE(Matching(run.lines, "------- Count").empty());
    EXPECT_TRUE(Matching(run.lines, "=====").empty());
}

TEST(BenchmarkRun, single_record_data_sets_run_for_every_type) {
    const CapturedRun run = RunCaptured({"-S", "1"});
    EXPECT_EQ(run.status, kExitComplete);
    EXPECT_EQ(Matching(run.lines, "------- Count: 1, 1/1 -------").size(), 4u);
    EXPECT_EQ(Matching(run.lines, "BIGFLOAT CPU - ").size(), 1u);
    EXPECT_EQ(Matching(run.lines, "BIGFLOAT CPU 8 Thread - ").size(), 1u);
}

TEST(BenchmarkRun, count_beyond_32_bit_indices_ends_the_run_with_a_clear_line) {
    const CapturedRun run = RunCaptured({"-S", "4294967296"});
    EXPECT_EQ(run.status, kExitTooLarge);
    const auto messages = Matching(run.lines, "Cannot benchmark 4294967296 INT records: ");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("indices are 32-bit"), std::string::npos);
    EXPECT_NE(messages[0].find("GiB"), std::string::npos);
    EXPECT_TRUE(Matching(run.lines, "INT CPU").empty());
    EXPECT_TRUE(Matching(run.lines, "================================= Running FLOAT").empty());
}

TEST(BenchmarkRun, a_thread_that_cannot_start_ends_the_run_with_a_clear_line_and_whole_files) {
    const TestSupport::TempDirectory logs;
    EvalCore::Testing::failWorkerStartNumber = 1;
    const CapturedRun run =
        TestSupport::RunCaptured(TestSupport::PlanFor({"-S", "100000"}, logs.Path().string() + "/"));
    EvalCore::Testing::failWorkerStartNumber = 0;
    EXPECT_EQ(run.status, kExitNoThreads);
    EXPECT_EQ(run.Starting("Cannot benchmark 100000 INT records: cannot start a thread (Resource temporarily "
                           "unavailable)"),
              std::vector<std::string>(1, run.lines.back()));
    const std::string runDir = logs.Path().string() + "/cpu_" + TestSupport::kRunStamp + "/";
    const std::string cells = TestSupport::ReadWholeFile(runDir + "bench_INT.csv");
    EXPECT_EQ(cells.find('\0'), std::string::npos);
    // The cells measured before the failed start stay.
    EXPECT_NE(cells.find("\n100000,"), std::string::npos) << cells;
}

TEST(BenchmarkRun, count_too_large_for_memory_ends_the_run_with_a_clear_line) {
    // Twice what the machine has free, if 32-bit indices can still address it.
    const std::uint64_t count = AvailableMemoryBytes() / DataSetPeakBytes(1, 4) * 2;
    if (count > 4294967295u) GTEST_SKIP() << "this machine has more memory than 32-bit indices address";
    const std::string countText = std::to_string(count);
    const CapturedRun run = RunCaptured({"-S", countText.c_str()});
    EXPECT_EQ(run.status, kExitTooLarge);
    const auto messages = Matching(run.lines, "Cannot benchmark " + countText + " INT records: out of memory (needs ");
    ASSERT_EQ(messages.size(), 1u) << (run.lines.empty() ? "" : run.lines.back());
    EXPECT_NE(messages[0].find("GiB available)"), std::string::npos);
    EXPECT_TRUE(Matching(run.lines, "INT CPU").empty());
}

TEST(GroupedNumber, groups_by_the_environment_locale) {
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(SLib::GroupedNumber(1000000), "1000000");
    setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
    EXPECT_EQ(SLib::GroupedNumber(1000000), "1000000");
    setenv("LC_ALL", "en_US.UTF-8", 1);
    try {
        std::locale probe("");
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "en_US.UTF-8 is not installed";
    }
    EXPECT_EQ(SLib::GroupedNumber(1000000), "1,000,000");
    setenv("LC_ALL", "C", 1);
}

TEST(BenchmarkRun, distributions_and_peers_get_files_columns_and_json_entries_of_their_own) {
    const TestSupport::TempDirectory json;
    const std::string jsonPath = json.File("run.json");
    const CapturedRun run =
        RunCaptured({"-S", "3000", "-D", "sorted,equal", "-PEERS", "-R", "2", "-JSON", jsonPath.c_str()});
    ASSERT_EQ(run.status, kExitComplete) << run.lines.back();
    EXPECT_EQ(Matching(run.lines, "================================= Running BIGINT Benchmark (equal keys) ").size(),
              1u);
    EXPECT_EQ(Matching(run.lines, "FLOAT Peer vqsort - ").size(), 2u);
    EXPECT_EQ(Matching(run.lines, "BIGFLOAT Peer parallel stable sort - ").size(), 2u);
    EXPECT_TRUE(Matching(run.lines, "QA ERROR").empty());
    // Two repetitions and their mean, median and stddev per cell: 4 types, 2 distributions, 5 CPU columns
    // and every peer's.
    const std::string document = TestSupport::ReadWholeFile(jsonPath);
    size_t entries = 0;
    for (size_t at = 0; (at = document.find("\"run_type\"", at)) != std::string::npos; ++at) ++entries;
    EXPECT_EQ(entries, 4u * 2u * (5u + kPeers.size()) * 5u);
    EXPECT_NE(document.find("\"name\": \"INT_equal/Peer vqsort/3000\""), std::string::npos);
}

TEST(BenchmarkRun, pair_columns_are_timed_and_written_to_every_file_with_their_threads) {
    const TestSupport::TempDirectory logs;
    const RunPlan plan =
        TestSupport::PlanFor({"-S", "3000", "-D", "uniform,equal", "-PAIRS", "-R", "2"}, logs.Path().string() + "/");
    const CapturedRun run = TestSupport::RunCaptured(plan);
    ASSERT_EQ(run.status, kExitComplete) << run.lines.back();
    EXPECT_EQ(Matching(run.lines, "INT Pair Radix 1 Thread - ").size(), 2u);
    EXPECT_EQ(Matching(run.lines, "BIGFLOAT Pair Radix All CPUs - ").size(), 2u);
    EXPECT_TRUE(Matching(run.lines, "QA ERROR").empty());
    // The peers' summary is the peers': without -PEERS the run ends without one.
    EXPECT_EQ(run.out.find(" PEERS "), std::string::npos);
    const std::string results = TestSupport::ReadWholeFile(plan.RunPath() + "bench_BIGINT_equal.csv");
    EXPECT_TRUE(
        results.starts_with("NbRecords,CPU Standard,CPU 1 Thread,CPU 2 Thread,CPU 4 Thread,CPU 8 Thread,"
                            "Pair Radix 1 Thread,Pair Radix All CPUs\n3000,"));
    const std::string stats = TestSupport::ReadWholeFile(plan.RunPath() + "stats_FLOAT.csv");
    EXPECT_NE(stats.find("\n3000,Pair Radix All CPUs,2,"), std::string::npos);
    EXPECT_NE(TestSupport::ReadWholeFile(plan.RunPath() + "speedup_INT.csv").find("\n3000,Pair Radix 1 Thread,2,"),
              std::string::npos);
    const std::string manifest = TestSupport::ReadWholeFile(plan.RunPath() + "run.json");
    const std::string everyCpu = std::to_string(ParallelPeerThreads(ReadMachineFacts().onlineCpus));
    EXPECT_NE(manifest.find("\"pair_sorters\": [{\"column\": \"Pair Radix 1 Thread\", \"threads\": 1}, "
                            "{\"column\": \"Pair Radix All CPUs\", \"threads\": " +
                            everyCpu + "}]"),
              std::string::npos);
    EXPECT_NE(manifest.find("\"skipped\": []"), std::string::npos);
}
