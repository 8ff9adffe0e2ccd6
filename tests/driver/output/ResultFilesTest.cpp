#include "driver/output/ResultFiles.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/Benchmark.h"
#include "driver/command_line/RunPlan.h"
#include "tests/driver/CapturedRun.h"
#include "tests/support/TempDirectory.h"

using TestSupport::ReadWholeFile;
using TestSupport::TempDirectory;

namespace {

constexpr const char* kStamp = "261207081500";
constexpr const char* kCpuHeader = "NbRecords,CPU Standard,CPU 1 Thread,CPU 2 Thread,CPU 4 Thread,CPU 8 Thread";
const char* const kFiles[] = {"bench_INT.csv", "bench_FLOAT.csv", "bench_BIGINT.csv", "bench_BIGFLOAT.csv"};

using TestSupport::PlanFor;
using TestSupport::RunCaptured;
using Captured = TestSupport::CapturedRun;

// A row of `cells` cells: a count, then time cells of plain decimals.
bool IsRow(const std::string& row, int cells) {
    static const std::regex time(R"(\d+(\.\d{1,12})?)");
    std::istringstream in(row);
    int seen = 0;
    for (std::string cell; std::getline(in, cell, ',');) {
        if (!std::regex_match(cell, time)) return false;
        if (seen == 0 ? cell.find('.') != std::string::npos
                      : cell.find_last_of('0') == cell.size() - 1 && cell.find('.') != std::string::npos) {
            return false;  // counts have no decimals, times no trailing zeros
        }
        ++seen;
    }
    return seen == cells;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(ResultFileCells, count_and_time_cells) {
    EXPECT_EQ(CountCell(0), "0");
    EXPECT_EQ(CountCell(100000000), "100000000");
    EXPECT_EQ(CountCell(2147483647), "2147483647");
    EXPECT_EQ(CountCell(3000000000u), "3000000000");
    EXPECT_EQ(CountCell(18446744073709551615u), "18446744073709551615");
}

TEST(ResultFileCells, files_hold_header_rows_and_no_final_line_feed) {
    TempDirectory dir;
    const std::string runDir = dir.Path().string() + "/";
    {
        ResultFiles files;
        testing::internal::CaptureStdout();
        files.Open(runDir, "NbRecords,CPU Standard,CPU 1 Thread");
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, "Initialized Log File: " + runDir + "bench_INT.csv\nInitialized Log File: " + runDir +
                           "bench_FLOAT.csv\nInitialized Log File: " + runDir +
                           "bench_BIGINT.csv\nInitialized Log File: " + runDir + "bench_BIGFLOAT.csv\n");
        files.AppendCount("FLOAT", 100);
        files.AppendTime("FLOAT", 0.0123);
        files.AppendTime("FLOAT", 5.0);
        files.AppendCount("FLOAT", 3000000000u);
        files.AppendTime("FLOAT", 12.3456789);
        files.AppendTime("FLOAT", 0.1 + 0.2);
        files.AppendCount("FLOAT", 7);
        files.AppendEmpty("FLOAT");  // a skipped column
        files.AppendTime("FLOAT", 1.5);
        // Written through at once: on disk before the manager closes.
        EXPECT_EQ(ReadWholeFile(runDir + "bench_FLOAT.csv").substr(0, 40), "NbRecords,CPU Standard,CPU 1 Thread\n100,");
    }
    EXPECT_EQ(ReadWholeFile(runDir + "bench_FLOAT.csv"),
              "NbRecords,CPU Standard,CPU 1 Thread\n100,0.0123,5\n3000000000,12.3456789,0.3\n7,,1.5");
    EXPECT_EQ(ReadWholeFile(runDir + "bench_INT.csv"), "NbRecords,CPU Standard,CPU 1 Thread");
}

TEST(ResultFileCells, result_files_are_not_executable) {
    TempDirectory dir;
    const mode_t previous = umask(0);
    {
        ResultFiles files;
        testing::internal::CaptureStdout();
        files.Open(dir.Path().string(), "NbRecords");
        testing::internal::GetCapturedStdout();
    }
    umask(previous);
    struct stat status {};
    ASSERT_EQ(stat(dir.File("bench_INT.csv").c_str(), &status), 0);
    // Nor writable by others: the umask cannot make them so.
    EXPECT_EQ(status.st_mode & 0777, 0644u);
}

TEST(RunDirectories, missing_log_directory_is_created_with_the_run_directory) {
    TempDirectory dir;
    const RunPlan plan = PlanFor({"-INFO", "-GPU"}, dir.File("logs") + "/");
    const Captured run = RunCaptured(plan);
    EXPECT_EQ(run.status, kExitInfoOnly);
    const std::string runDir = dir.File("logs") + "/cpu_gpu_" + kStamp + "/";
    EXPECT_EQ(plan.RunPath(), runDir);
    for (const char* name : kFiles) {
        EXPECT_NE(run.out.find("Initialized Log File: " + runDir + name + "\n"), std::string::npos) << run.out;
        EXPECT_EQ(ReadWholeFile(runDir + name), std::string(kCpuHeader) + ",GPU,GPU On Card,GPU Transfer");
    }
}

TEST(RunDirectories, a_file_in_the_way_ends_the_run_with_255_and_creates_nothing) {
    TempDirectory dir;
    const RunPlan plan = PlanFor({"-MIN"}, dir.Path().string() + "/");
    const std::string blocker = plan.RunPath().substr(0, plan.RunPath().size() - 1);
    TestSupport::WriteWholeFile(blocker, "not a directory");
    const Captured run = RunCaptured(plan);
    EXPECT_EQ(run.status, kExitNoDirectory);
    EXPECT_EQ(run.out, "Failed to create directory: " + plan.RunPath() + ": File exists\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    EXPECT_EQ(ReadWholeFile(blocker), "not a directory");
}

TEST(RunDirectories, a_missing_parent_of_the_log_directory_ends_the_run_with_255) {
    TempDirectory dir;
    const RunPlan plan = PlanFor({"-MIN"}, dir.File("no/logs") + "/");
    const Captured run = RunCaptured(plan);
    EXPECT_EQ(run.status, kExitNoDirectory);
    EXPECT_EQ(run.out, "Failed to create directory: " + dir.File("no/logs") + "/: No such file or directory\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(BenchmarkResults, every_file_holds_header_and_one_trimmed_row_per_count) {
    TempDirectory dir;
    const RunPlan plan = PlanFor({"-S", "300"}, dir.Path().string() + "/");
    const Captured run = RunCaptured(plan);
    ASSERT_EQ(run.status, kExitComplete);
    for (const char* name : kFiles) {
        const std::string text = ReadWholeFile(plan.RunPath() + name);
        const auto lines = Lines(text);
        ASSERT_EQ(lines.size(), 2u) << text;
        EXPECT_EQ(lines[0], kCpuHeader);
        EXPECT_TRUE(IsRow(lines[1], 6)) << lines[1];
        EXPECT_EQ(lines[1].rfind("300,", 0), 0u);
        EXPECT_NE(text.back(), '\n');
        EXPECT_EQ(text.find('\0'), std::string::npos);
    }
}

TEST(BenchmarkResults, report_follows_the_result_files_and_precedes_the_info_stop) {
    TempDirectory dir;
    const Captured run = RunCaptured(PlanFor({"-INFO"}, dir.Path().string() + "/"));
    EXPECT_EQ(run.status, kExitInfoOnly);
    const size_t lastFile = run.out.rfind("Initialized Log File: ");
    const size_t os = run.out.find("----------------------------- OS INFO -----------------------------\n");
    const size_t cpu = run.out.find("----------------------------- CPU INFO -----------------------------\n");
    const size_t gpu = run.out.find("----------------------------- GPU INFO -----------------------------\n");
    ASSERT_NE(lastFile, std::string::npos);
    ASSERT_NE(gpu, std::string::npos);
    EXPECT_LT(lastFile, os);
    EXPECT_LT(os, cpu);
    EXPECT_LT(cpu, gpu);
    EXPECT_NE(run.out.find("  vendor_id:", cpu), std::string::npos);
}

TEST(BenchmarkResults, a_stopped_run_trims_its_files) {
    TempDirectory dir;
    const RunPlan plan = PlanFor({"-S", "5000000000"}, dir.Path().string() + "/");
    const Captured run = RunCaptured(plan);
    EXPECT_EQ(run.status, kExitTooLarge);
    for (const char* name : kFiles) EXPECT_EQ(ReadWholeFile(plan.RunPath() + name), kCpuHeader);
}

// The run writes every cell through a shared mapping, so a kill loses nothing that
// was appended: what was seen before the kill is still there, and the rest of the
// untrimmed file is zero padding.
//
// The kill lands mid-run however fast the machine: the run's console goes into a
// pipe of one page that the test stops reading once the sixth count starts (five
// rows written), and the lines a -1M run prints after that (the other 12 counts
// of INT and the 17 of each other type, about 12 KiB) do not fit in it, so the run
// is blocked writing to it when it is killed.
TEST(BenchmarkResults, killed_run_keeps_every_appended_cell) {
    TempDirectory dir;
    const RunPlan plan = PlanFor({"-1M"}, dir.Path().string() + "/");
    const std::string intFile = plan.RunPath() + "bench_INT.csv";
    int console[2];
    ASSERT_EQ(pipe(console), 0);
    ASSERT_GE(fcntl(console[1], F_SETPIPE_SZ, getpagesize()), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(console[0]);
        if (dup2(console[1], STDOUT_FILENO) < 0) _exit(3);
        std::setvbuf(stdout, nullptr, _IOLBF, 0);  // as main() does: each line reaches the pipe whole
        _exit(RunBenchmark(plan));
    }
    close(console[1]);
    FILE* output = fdopen(console[0], "r");
    ASSERT_NE(output, nullptr);
    std::setvbuf(output, nullptr, _IONBF, 0);  // read no further than the line that ends the wait
    int counts = 0;
    char* line = nullptr;
    std::size_t room = 0;
    while (counts < 6 && getline(&line, &room, output) >= 0)
        counts += std::string(line).rfind("------- Count:", 0) == 0;
    std::free(line);
    const auto textOf = [](const std::string& bytes) { return bytes.substr(0, bytes.find('\0')); };
    const std::string seen = textOf(ReadWholeFile(intFile));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    std::fclose(output);
    ASSERT_EQ(counts, 6) << "the run's console ended before its sixth count";
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it could be killed";

    const std::string bytes = ReadWholeFile(intFile);
    const std::string text = textOf(bytes);
    ASSERT_GE(Lines(seen).size(), 6u) << seen;
    EXPECT_EQ(text.substr(0, seen.size()), seen);
    EXPECT_EQ(bytes.find_first_not_of('\0', text.size()), std::string::npos);
    const auto lines = Lines(text);
    EXPECT_EQ(lines[0], kCpuHeader);
    for (size_t i = 1; i + 1 < lines.size(); ++i) EXPECT_TRUE(IsRow(lines[i], 6)) << lines[i];
}

TEST(BenchmarkResults, a_result_file_that_cannot_be_created_ends_the_run_with_255_before_any_benchmark) {
    // Three pages of room: tmpfs charges a whole page per file, so the fourth
    // result file cannot be created.
    TestSupport::TinyFilesystem fs(12 * 1024);
    if (!fs.Mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    const RunPlan plan = PlanFor({"-MIN"}, fs.Path().string() + "/");
    testing::internal::CaptureStderr();
    const Captured run = RunCaptured(plan);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(run.status, kExitNoDirectory);
    EXPECT_NE(run.out.find("Failed to initialize Log File: " + plan.RunPath() + "bench_BIGFLOAT.csv\n"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("INFO"), std::string::npos) << "no report and no benchmark after the failure";
    EXPECT_EQ(run.out.find("Count:"), std::string::npos);
}

TEST(BenchmarkResults, cells_a_full_disk_refuses_are_reported_and_the_run_ends_with_status_1) {
    // About one page per file (four result files, four stats files, four
    // speed-up files, the run conditions): the header and the first rows fit,
    // the rest does not.
    TestSupport::TinyFilesystem fs(14 * 4096);
    if (!fs.Mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    RunPlan plan = PlanFor({"-R", "2"}, fs.Path().string() + "/");
    plan.counts.assign(100, 1);
    testing::internal::CaptureStderr();
    const Captured run = RunCaptured(plan);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(run.status, kExitIncomplete);
    // Every retry meets the same full disk; each of the thirteen files says so once at most.
    EXPECT_LE(std::count(errors.begin(), errors.end(), '\n'), 13) << errors;
    for (const char* name : {"stats_INT.csv", "stats_BIGFLOAT.csv"}) {
        EXPECT_NE(run.out.find("Cannot write to " + plan.RunPath() + name + ": No space left on device"),
                  std::string::npos)
            << name << "\n"
            << run.out;
    }
    const auto out = Lines(run.out);
    EXPECT_EQ(std::count_if(out.begin(), out.end(),
                            [](const std::string& l) { return l.find("Count: 1, 100/100") != std::string::npos; }),
              4)
        << "the run goes on after the disk is full";
    ASSERT_GE(out.size(), 2u);
    // The manifest could not take the run's end either: the last line says so.
    EXPECT_EQ(out.back(), "Manifest out of date: " + plan.RunPath() +
                              "run.json could not be written at the end of the run (No space left on device)");
    const std::string& incomplete = out[out.size() - 2];
    EXPECT_EQ(incomplete.rfind("Results incomplete: ", 0), 0u) << incomplete;
    EXPECT_NE(incomplete.find(" cells could not be written to " + plan.RunPath() + " (bench_INT.csv "),
              std::string::npos)
        << incomplete;
    for (const char* name : kFiles) {
        EXPECT_NE(run.out.find("Cannot write to " + plan.RunPath() + name + ": No space left on device"),
                  std::string::npos)
            << name;
        const std::string text = ReadWholeFile(plan.RunPath() + name);
        EXPECT_EQ(text.find('\0'), std::string::npos) << name;
        const auto lines = Lines(text);
        ASSERT_GT(lines.size(), 20u) << name;
        for (size_t i = 1; i + 1 < lines.size(); ++i) EXPECT_TRUE(IsRow(lines[i], 6)) << lines[i];
    }
}

namespace {
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}
}  // namespace

TEST(BenchmarkResults, a_disk_that_fills_mid_run_leaves_run_json_with_the_ending_and_the_failed_writes) {
    // Room for every file's first page, run.json and what it holds back, not
    // for the rows: the disk fills after the start, whatever the machine.
    TestSupport::TinyFilesystem fs(40 * 4096);
    if (!fs.Mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    const std::string json = fs.File("out.json");
    RunPlan plan = PlanFor({"-R", "3", "-JSON", json.c_str()}, fs.Path().string() + "/");
    plan.counts.assign(25, 1);
    testing::internal::CaptureStderr();
    const Captured run = RunCaptured(plan);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(run.status, kExitIncomplete);
    EXPECT_EQ(errors, "") << "the run's own lines say it; no raw MMFile lines beside them";
    EXPECT_EQ(run.out.find("Manifest out of date"), std::string::npos) << run.out;
    const std::string manifest = ReadWholeFile(plan.RunPath() + "run.json");
    EXPECT_NE(manifest.find("\n  \"exit_status\": 1,\n  \"failed_writes\": [\n    {\"file\": \"" + json +
                            "\", \"reason\": \"No space left on device\"},\n    {\"file\": \"stats_"),
              std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find("\", \"reason\": \"No space left on device\", \"cells\": "), std::string::npos);
    std::size_t complete = 0;
    for (std::size_t at = 0; (at = manifest.find("\"outcome\": \"complete\"", at)) != std::string::npos; ++at)
        ++complete;
    EXPECT_EQ(complete, 4u * 25u) << "every data set measured, as the console says";
}

TEST(Repetitions, cells_hold_the_medians_of_the_stats_files_and_the_console_shows_the_spread) {
    TempDirectory dir;
    // The shrunken probe, and a count large enough for its arrays: the radix columns have floors.
    setenv("SORTBENCH_QUICK_LIMITS", "1", 1);
    const RunPlan plan = PlanFor({"-S", "20000", "-R", "3"}, dir.Path().string() + "/");
    const Captured run = RunCaptured(plan);
    ASSERT_EQ(run.status, kExitComplete);
    for (const char* type : {"INT", "FLOAT", "BIGINT", "BIGFLOAT"}) {
        const auto cells = Split(Lines(ReadWholeFile(plan.RunPath() + "bench_" + type + ".csv")).at(1), ',');
        const auto stats = Lines(ReadWholeFile(plan.RunPath() + "stats_" + type + ".csv"));
        ASSERT_EQ(stats.size(), 6u) << type;
        EXPECT_EQ(stats[0], "NbRecords,Column,Runs,Min,Median,Mean,Max,StdDev,Times,KeysPerSecond,FloorMs,FloorRatio");
        const auto header = Split(kCpuHeader, ',');
        for (size_t column = 1; column < header.size(); ++column) {
            auto row = Split(stats[column], ',');
            row.resize(12);  // getline drops the empty last cells
            EXPECT_EQ(row[0], "20000");
            EXPECT_EQ(row[1], header[column]);
            EXPECT_EQ(row[2], "3");
            EXPECT_EQ(row[4], cells[column]) << "the result cell is the median";
            EXPECT_EQ(Split(row[8], ';').size(), 3u);
            const double median = std::stod(row[4]);
            EXPECT_NEAR(std::stod(row[9]), 20000 / (median / 1000), 1.0) << stats[column];
            if (column == 1) {
                EXPECT_EQ(row[10] + row[11], "") << "CPU Standard has no floor";
            } else {
                const double ratio = median / std::stod(row[10]);  // the floor cell is rounded
                EXPECT_NEAR(std::stod(row[11]), ratio, ratio * 1e-6) << stats[column];
            }
        }
    }
    EXPECT_NE(run.out.find("\nINT CPU 2 Thread - "), std::string::npos);
    EXPECT_NE(run.out.find(" ms (median of 3, "), std::string::npos);
    EXPECT_NE(run.out.find("\u00d7 its memory floor)\nINT CPU 2 Thread"), std::string::npos) << run.out;
    const std::string conditions = ReadWholeFile(plan.RunPath() + "run_conditions.txt");
    EXPECT_EQ(conditions.rfind("----------------------------- RUN CONDITIONS", 0), 0u) << conditions;
    EXPECT_NE(run.out.find(conditions.substr(0, conditions.find("Version:"))), std::string::npos);
    EXPECT_NE(conditions.find("\nLimits: best of 1, "), std::string::npos) << conditions;
    EXPECT_NE(conditions.find("\nHuge pages: "), std::string::npos) << conditions;
    EXPECT_TRUE(run.out.find("Noisy cells (") != std::string::npos ||
                run.out.find("Every cell's coefficient of variation is at most 5%.") != std::string::npos);
}

TEST(Repetitions, one_repetition_writes_exactly_what_a_plain_run_writes) {
    TempDirectory dir;
    const RunPlan plan = PlanFor({"-S", "1000", "-R", "1"}, dir.Path().string() + "/");
    const Captured run = RunCaptured(plan);
    ASSERT_EQ(run.status, kExitComplete);
    EXPECT_EQ(run.out.find("median"), std::string::npos);
    EXPECT_EQ(run.out.find("RUN CONDITIONS"), std::string::npos);
    EXPECT_EQ(run.out.find("cell"), std::string::npos);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(plan.RunPath()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"bench_BIGFLOAT.csv", "bench_BIGINT.csv", "bench_FLOAT.csv",
                                               "bench_INT.csv", "run.json", "run.lock"}));
}
