// Whole benchmark runs with the GPU columns on the software device.
#include "driver/sorters/GpuColumns.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "driver/Benchmark.h"
#include "driver/command_line/RunPlan.h"
#include "tests/driver/CapturedRun.h"
#include "tests/gpu/GpuTestSupport.h"
#include "tests/support/GoldenText.h"

namespace {

// A run of RunBenchmark in this process, in a log directory of its own.
class CapturedRun {
public:
    // `programDirectory` stands for where the program lies: its "Shaders"
    // subdirectory is where the run loads the shaders from.
    CapturedRun(std::vector<const char*> args, const GpuColumns::Seams& seams,
                const std::filesystem::path& programDirectory = SORTBENCH_BINARY_DIR)
        : logDirectory(std::filesystem::path(testing::TempDir()) /
                       ("sortbench-gpu-columns-" + std::to_string(getpid()) + "-" + std::to_string(++runs))) {
        const RunPlan plan = TestSupport::PlanFor(std::move(args), logDirectory.string() + "/",
                                                  (programDirectory / "sortbench").string());
        runDirectory = plan.RunPath();
        const TestSupport::CapturedRun run = TestSupport::RunCaptured(plan, seams);
        status = run.status;
        lines = run.lines;
    }
    ~CapturedRun() {
        std::error_code ignored;
        std::filesystem::remove_all(logDirectory, ignored);
    }
    CapturedRun(const CapturedRun&) = delete;
    CapturedRun& operator=(const CapturedRun&) = delete;

    std::vector<std::string> Starting(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& line : lines) {
            if (line.rfind(prefix, 0) == 0) {
                found.push_back(line);
            }
        }
        return found;
    }

    // The rows of a result file, header first, each split into its cells.
    std::vector<std::vector<std::string>> Rows(const std::string& type) const {
        std::ifstream file(runDirectory + "bench_" + type + ".csv");
        std::vector<std::vector<std::string>> rows;
        for (std::string line; std::getline(file, line);) {
            std::vector<std::string> cells;
            std::istringstream fields(line);
            for (std::string cell; std::getline(fields, cell, ',');) {
                cells.push_back(cell);
            }
            rows.push_back(cells);
        }
        return rows;
    }

    // Standard output as printed, then every result and stats file of the run
    // in name order, masked for a stored copy.
    std::string Masked() const {
        std::string text;
        for (const std::string& line : lines) {
            text += line + "\n";
        }
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(runDirectory)) {
            if (entry.path().extension() == ".csv") {
                files.push_back(entry.path());
            }
        }
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            std::ifstream in(file);
            text += "--- " + file.filename().string() + "\n" +
                    std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) + "\n";
        }
        return TestSupport::MaskedRunText(text, logDirectory.string());
    }

    int status = -1;
    std::vector<std::string> lines;

private:
    static inline int runs = 0;
    std::filesystem::path logDirectory;
    std::string runDirectory;
};

// Runs on the software device, with `inspect` (if any) seeing each timed GPU
// permutation before the QA comparison.
GpuColumns::Seams OnSoftwareDevice(std::function<void(uint32_t*, uint64_t)> inspect = nullptr) {
    GpuColumns::Seams seams;
    seams.allowCpuDevices = true;
    seams.inspectResult = std::move(inspect);
    return seams;
}

const char* const kTypes[] = {"INT", "FLOAT", "BIGINT", "BIGFLOAT"};

TEST(GpuColumns, qa_run_matches_the_cpu_for_every_data_set_and_fills_every_column) {
    GpuTest::TakeValidationLog();
    const CapturedRun run({"-GPU", "-QA", "-MIN"}, OnSoftwareDevice());
    EXPECT_EQ(GpuTest::TakeValidationLog(), "");
    ASSERT_EQ(run.status, kExitComplete) << (run.lines.empty() ? "" : run.lines.back());

    EXPECT_EQ(run.Starting("QA Test Passed: CPU & GPU Numbers match").size(), 20u);
    EXPECT_TRUE(run.Starting("QA ERROR").empty());
    EXPECT_EQ(run.Starting("  > Total GPU Time:   ").size(), 40u);
    for (const char* type : kTypes) {
        const std::string name = type;
        EXPECT_EQ(run.Starting(name + " GPU - ").size(), 5u) << name;
        EXPECT_EQ(run.Starting(name + " GPU_On_Card - ").size(), 5u) << name;
        EXPECT_EQ(run.Starting(name + " GPU_Transfer - ").size(), 5u) << name;

        const auto rows = run.Rows(name);
        ASSERT_EQ(rows.size(), 6u) << name;
        // Count, CPU Standard, four thread counts and the three GPU columns.
        ASSERT_EQ(rows[0].size(), 9u);
        EXPECT_EQ(rows[0][6], "GPU");
        EXPECT_EQ(rows[0][7], "GPU On Card");
        EXPECT_EQ(rows[0][8], "GPU Transfer");
        for (size_t r = 1; r < rows.size(); ++r) {
            EXPECT_EQ(rows[r].size(), 9u) << name << " row " << r;
        }
    }

    // The three lines follow the timed sort's progress and come before the QA line.
    const auto at = [&](const std::string& prefix) {
        return std::find_if(run.lines.begin(), run.lines.end(),
                            [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }) -
               run.lines.begin();
    };
    EXPECT_LT(at("Command Finished!"), at("INT GPU - "));
    EXPECT_EQ(at("INT GPU - ") + 1, at("INT GPU_On_Card - "));
    EXPECT_EQ(at("INT GPU - ") + 2, at("INT GPU_Transfer - "));
    EXPECT_EQ(at("INT GPU - ") + 3, at("QA Test Passed"));
}

TEST(GpuColumns, qa_runs_with_and_without_repetitions_keep_their_bytes) {
    const CapturedRun rounds({"-GPU", "-QA", "-S", "1000", "-R", "2", "-D", "sorted"}, OnSoftwareDevice());
    ASSERT_EQ(rounds.status, kExitComplete);
    const CapturedRun single({"-GPU", "-QA", "-S", "300"}, OnSoftwareDevice());
    ASSERT_EQ(single.status, kExitComplete);
    TestSupport::ExpectGolden(SORTBENCH_GOLDEN_DIR, "gpu_qa.txt", rounds.Masked() + single.Masked());
}

TEST(GpuColumns, repetitions_measure_the_device_and_give_the_on_card_column_a_floor) {
    // The shrunken probe's 1 MiB buffers: 2^18 keys make index arrays that large.
    setenv("SORTBENCH_QUICK_LIMITS", "1", 1);
    const CapturedRun run({"-GPU", "-S", "262144", "-R", "2"}, OnSoftwareDevice());
    ASSERT_EQ(run.status, kExitComplete);
    ASSERT_EQ(run.Starting("Limits: GPU llvmpipe").size(), 1u) << run.Masked();
    for (const char* type : {"INT", "BIGFLOAT"}) {
        const std::vector<std::string> onCard = run.Starting(std::string(type) + " GPU_On_Card - ");
        ASSERT_EQ(onCard.size(), 1u);
        EXPECT_NE(onCard[0].find("\u00d7 its memory floor)"), std::string::npos) << onCard[0];
        EXPECT_EQ(run.Starting(std::string(type) + " GPU - ")[0].find("memory floor"), std::string::npos);
    }
}

TEST(GpuColumns, gpu_run_without_qa_prints_no_qa_line) {
    const CapturedRun run({"-GPU", "-MIN"}, OnSoftwareDevice());
    EXPECT_EQ(run.status, kExitComplete);
    EXPECT_EQ(run.Starting("BIGFLOAT GPU_Transfer - ").size(), 5u);
    EXPECT_TRUE(run.Starting("QA ").empty());
}

TEST(GpuColumns, mismatch_stops_the_run_after_completing_the_failing_row) {
    const auto corrupt = [](uint32_t* permutation, uint64_t count) {
        if (count >= 2) {
            std::swap(permutation[0], permutation[1]);
        }
    };
    const CapturedRun run({"-GPU", "-QA", "-MIN"}, OnSoftwareDevice(corrupt));
    EXPECT_EQ(run.status, kExitCheckFailed);

    const std::vector<std::string> tail(run.lines.end() - std::min<size_t>(2, run.lines.size()), run.lines.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{"QA ERROR: GPU Results do not match CPU Results", "ABORTING BENCH TEST"}));
    EXPECT_TRUE(run.Starting("QA Test Passed").empty());
    EXPECT_TRUE(run.Starting("------- Count: 250").empty());
    const auto rows = run.Rows("INT");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].size(), 9u);
    EXPECT_EQ(rows[1][0], "100");
    EXPECT_EQ(run.Rows("FLOAT").size(), 1u);
}

TEST(GpuColumns, every_repetition_is_checked_and_a_late_mismatch_still_completes_the_row) {
    int timedSorts = 0;
    const auto corruptSecond = [&](uint32_t* permutation, uint64_t count) {
        if (++timedSorts == 2 && count >= 2) {
            std::swap(permutation[0], permutation[1]);
        }
    };
    const CapturedRun run({"-GPU", "-QA", "-S", "1000", "-R", "3"}, OnSoftwareDevice(corruptSecond));
    EXPECT_EQ(run.status, kExitCheckFailed);
    EXPECT_EQ(timedSorts, 2);
    EXPECT_EQ(run.Starting("QA ERROR: GPU Results do not match CPU Results").size(), 1u);
    EXPECT_TRUE(run.Starting("QA Test Passed").empty());
    ASSERT_EQ(run.Starting("INT GPU_Transfer - ").size(), 1u);
    EXPECT_NE(run.Starting("INT GPU_Transfer - ")[0].find("(median of 2, "), std::string::npos);
    const auto rows = run.Rows("INT");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].size(), 9u);
}

TEST(GpuColumns, peers_follow_the_gpu_columns_and_are_checked_with_them) {
    const CapturedRun run({"-GPU", "-QA", "-PEERS", "-S", "1000"}, OnSoftwareDevice());
    ASSERT_EQ(run.status, kExitComplete) << (run.lines.empty() ? "" : run.lines.back());
    EXPECT_EQ(run.Starting("QA Test Passed").size(), 4u);
    EXPECT_TRUE(run.Starting("QA ERROR").empty());
    EXPECT_EQ(run.Starting("BIGFLOAT Peer parallel stable sort - ").size(), 1u);
    const auto rows = run.Rows("INT");
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[0].size(), 9 + kPeers.size());
    EXPECT_EQ(rows[0][8], "GPU Transfer");
    EXPECT_EQ(rows[0][9], "Peer vqsort");
    EXPECT_EQ(rows[1].size(), 9 + kPeers.size());
}

TEST(GpuColumns, failed_gpu_sort_ends_the_run_with_one_line) {
    const auto fail = [](uint32_t*, uint64_t) { throw std::runtime_error("device lost"); };
    const CapturedRun run({"-GPU", "-QA", "-MIN"}, OnSoftwareDevice(fail));
    EXPECT_EQ(run.status, kExitGpuSortFailed);
    EXPECT_EQ(run.lines.back(), "GPU sort of 100 INT records failed: device lost");
    EXPECT_TRUE(run.Starting("INT GPU - ").empty());
    EXPECT_TRUE(run.Starting("QA ").empty());
    const auto rows = run.Rows("INT");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].size(), 6u);
}

TEST(GpuColumns, gpu_run_without_a_ready_sorter_stops_before_the_first_benchmark) {
    {
        // Without the switch the software device is no GPU.
        const CapturedRun run({"-GPU", "-MIN"}, {});
        EXPECT_EQ(run.status, kExitNoGpu);
        EXPECT_EQ(run.lines.back(), "GPU sorting unavailable: no Vulkan GPU with the required features");
        EXPECT_TRUE(run.Starting("=====").empty());
        ASSERT_EQ(run.Rows("INT").size(), 1u);
        EXPECT_EQ(run.Rows("INT")[0].size(), 9u);
    }
    {
        const std::filesystem::path nowhere = std::filesystem::path(testing::TempDir()) / "sortbench-no-shaders";
        const CapturedRun run({"-GPU", "-MIN"}, OnSoftwareDevice(), nowhere);
        EXPECT_EQ(run.status, kExitNoGpu);
        EXPECT_EQ(run.lines.back(), "GPU sorting unavailable: the sort shaders could not be loaded from " +
                                        (nowhere / "Shaders").string());
        EXPECT_TRUE(run.Starting("=====").empty());
    }
    {
        // Without "-GPU" the same sorter is created and not used.
        const CapturedRun run({"-S", "3"}, {});
        EXPECT_EQ(run.status, kExitComplete);
        EXPECT_EQ(run.Starting("INT CPU 8 Thread - ").size(), 1u);
    }
}

TEST(GpuColumns, limits_are_probed_on_the_sorter_device_or_name_why_there_is_none) {
    constexpr std::uint64_t twoMiB = std::uint64_t{2} << 20;
    {
        const GpuTest::CoutCapture report;
        const GpuColumns columns(SORTBENCH_SHADER_DIR, OnSoftwareDevice());
        const GpuLimits limits = columns.ProbeLimits({.bufferBytes = twoMiB, .repeats = 1, .availableBytes = {}});
        EXPECT_TRUE(limits.Measured()) << limits.skipped;
        EXPECT_NE(limits.device, "");
        EXPECT_EQ(limits.bufferBytes, twoMiB);
        EXPECT_EQ(limits.repeats, 1u);
    }
    {
        // Without the switch the software device is no GPU.
        const GpuTest::CoutCapture report;
        const GpuColumns columns(SORTBENCH_SHADER_DIR);
        const GpuLimits limits = columns.ProbeLimits();
        EXPECT_EQ(limits.skipped, "GPU unavailable: no Vulkan GPU with the required features");
        EXPECT_FALSE(limits.Measured());
    }
}

}  // namespace
