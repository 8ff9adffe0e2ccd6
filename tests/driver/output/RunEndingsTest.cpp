// How a run ends on disk: interrupted by a signal, killed, or racing another run
// for its directory. Runs the real program as a child process.
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "driver/output/RunDirectory.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDirectory.h"

using TestSupport::ChildProcess;
using TestSupport::ReadWholeFile;
using TestSupport::TempDirectory;

namespace {

const char* const kFiles[] = {"bench_INT.csv", "bench_FLOAT.csv", "bench_BIGINT.csv", "bench_BIGFLOAT.csv"};

std::vector<std::string> RunDirectories(const TempDirectory& logs) {
    std::vector<std::string> runs;
    for (const auto& entry : std::filesystem::directory_iterator(logs.Path()))
        runs.push_back(entry.path().string() + "/");
    std::sort(runs.begin(), runs.end());
    return runs;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    lines.push_back(text.substr(start));
    return lines;
}

size_t Cells(const std::string& row) { return static_cast<size_t>(std::count(row.begin(), row.end(), ',')) + 1; }

// The started run, once it has written rows of the first data type.
std::unique_ptr<ChildProcess> StartRunWithRows(const TempDirectory& logs, std::vector<std::string> more = {}) {
    std::vector<std::string> args{SORTBENCH_BINARY, "-O", logs.Path().string(), "-1M"};
    args.insert(args.end(), more.begin(), more.end());
    auto run = std::make_unique<ChildProcess>(args);
    EXPECT_TRUE(run->SkipToLine("INT CPU 8 Thread", 3));
    return run;
}

bool HasZeroBytes(const std::string& path) { return ReadWholeFile(path).find('\0') != std::string::npos; }

}  // namespace

TEST(RunEndings, interrupting_signals_trim_the_files_and_end_with_128_plus_the_signal) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        const TempDirectory logs;
        const TempDirectory json;
        auto run = StartRunWithRows(logs, {"-JSON", json.File("run.json")});
        kill(run->Pid(), signal);
        const std::string rest = run->RestOfStdout();
        const int status = run->Wait();
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);

        const std::string runDir = RunDirectories(logs).at(0);
        const std::string name = signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "SIGHUP";
        EXPECT_NE(rest.find("Interrupted by " + name + ": the results measured so far are in " + runDir + "\n"),
                  std::string::npos)
            << rest;
        for (const char* file : kFiles) EXPECT_FALSE(HasZeroBytes(runDir + file)) << file;
        // Complete rows stay complete; only the last one may have been cut between cells.
        const auto rows = Lines(ReadWholeFile(runDir + "bench_INT.csv"));
        ASSERT_GE(rows.size(), 4u);
        for (size_t i = 0; i + 1 < rows.size(); ++i) EXPECT_EQ(Cells(rows[i]), 6u) << rows[i];
        EXPECT_LE(Cells(rows.back()), 6u);
        // The JSON file holds what was measured, whole.
        const std::string document = ReadWholeFile(json.File("run.json"));
        EXPECT_NE(document.find("\"name\": \"INT/CPU 8 Thread/100\""), std::string::npos);
        EXPECT_TRUE(document.ends_with("]\n}\n")) << document.substr(document.size() - 20);
    }
}

TEST(RunEndings, signals_ignored_at_start_stay_ignored) {
    const TempDirectory logs;
    // As nohup and a shell's trap '' leave them.
    ChildProcess run(
        {"/bin/sh", "-c", "trap '' HUP INT; exec \"$0\" -O \"$1\" -1M", SORTBENCH_BINARY, logs.Path().string()});
    ASSERT_TRUE(run.SkipToLine("INT CPU 8 Thread", 1));
    kill(run.Pid(), SIGHUP);
    kill(run.Pid(), SIGINT);
    ASSERT_TRUE(run.SkipToLine("INT CPU 8 Thread", 1)) << "the run went on";
    kill(run.Pid(), SIGTERM);
    (void)run.RestOfStdout();
    const int status = run.Wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
}

TEST(RunEndings, closed_standard_output_still_trims_the_files) {
    const TempDirectory logs;
    ChildProcess run({SORTBENCH_BINARY, "-O", logs.Path().string(), "-1M"});
    ASSERT_TRUE(run.SkipToLine("INT CPU 8 Thread", 2));
    run.CloseStdout();
    const int status = run.Wait();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGPIPE);
    const std::string runDir = RunDirectories(logs).at(0);
    EXPECT_NE(run.Stderr().find(
                  "Interrupted by SIGPIPE (standard output was closed): the results measured so far are in " + runDir),
              std::string::npos);
    for (const char* file : kFiles) EXPECT_FALSE(HasZeroBytes(runDir + file)) << file;
    EXPECT_GE(Lines(ReadWholeFile(runDir + "bench_INT.csv")).size(), 3u);
}

TEST(RunEndings, runs_started_in_the_same_second_keep_every_row_in_directories_of_their_own) {
    const TempDirectory logs;
    // Both runs find the names of the next minute taken, as by runs that started
    // in those seconds, so both step past them to the same first free name and
    // race for it, however far apart the machine starts them (within the minute).
    const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::vector<std::string> taken;
    for (std::time_t second = now - 1; second <= now + 60; ++second) {
        std::tm local{};
        localtime_r(&second, &local);
        char stamp[16];
        std::strftime(stamp, sizeof stamp, "%y%m%d%H%M%S", &local);
        taken.push_back(logs.File(std::string("cpu_") + stamp));
        std::filesystem::create_directory(taken.back());
    }
    ChildProcess longer({SORTBENCH_BINARY, "-O", logs.Path().string(), "-100K"});
    ChildProcess shorter({SORTBENCH_BINARY, "-O", logs.Path().string(), "-MIN"});
    (void)longer.RestOfStdout();
    (void)shorter.RestOfStdout();
    EXPECT_EQ(longer.Wait(), 0);
    EXPECT_EQ(shorter.Wait(), 0);
    for (const std::string& name : taken) std::filesystem::remove(name);

    const auto runs = RunDirectories(logs);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(NextStamp(runs[0].substr(runs[0].size() - 13, 12)), runs[1].substr(runs[1].size() - 13, 12));
    std::vector<size_t> rowCounts;
    for (const std::string& run : runs) {
        for (const char* file : kFiles) {
            const auto rows = Lines(ReadWholeFile(run + file));
            for (const std::string& row : rows) EXPECT_EQ(Cells(row), 6u) << run << file << ": " << row;
            if (file == kFiles[0]) rowCounts.push_back(rows.size() - 1);
        }
    }
    std::sort(rowCounts.begin(), rowCounts.end());
    EXPECT_EQ(rowCounts, (std::vector<size_t>{5, 13}));
}

TEST(RunEndings, next_start_repairs_killed_runs_and_leaves_live_ones_alone) {
    const TempDirectory logs;
    // A stopped run still holds its lock: it is alive, only paused.
    auto paused = StartRunWithRows(logs);
    kill(paused->Pid(), SIGSTOP);
    auto killed = StartRunWithRows(logs);
    kill(killed->Pid(), SIGKILL);
    killed->Wait();
    const auto runs = RunDirectories(logs);
    ASSERT_EQ(runs.size(), 2u);
    const std::string& pausedDir = runs[0];
    const std::string& killedDir = runs[1];
    const std::string pausedBytes = ReadWholeFile(pausedDir + "bench_INT.csv");
    const std::string killedBytes = ReadWholeFile(killedDir + "bench_INT.csv");
    ASSERT_TRUE(HasZeroBytes(pausedDir + "bench_INT.csv"));
    ASSERT_TRUE(HasZeroBytes(killedDir + "bench_INT.csv"));

    ChildProcess next({SORTBENCH_BINARY, "-O", logs.Path().string(), "-INFO"});
    const std::string out = next.RestOfStdout();
    EXPECT_EQ(WEXITSTATUS(next.Wait()), 1);
    EXPECT_NE(out.find("Repaired the result files of an interrupted run: " + killedDir + "\n"), std::string::npos)
        << out;
    EXPECT_EQ(out.find(pausedDir), std::string::npos);
    EXPECT_EQ(ReadWholeFile(killedDir + "bench_INT.csv"), killedBytes.substr(0, killedBytes.find('\0')));
    for (const char* file : kFiles) EXPECT_FALSE(HasZeroBytes(killedDir + file)) << file;
    EXPECT_EQ(ReadWholeFile(pausedDir + "bench_INT.csv"), pausedBytes);
    kill(paused->Pid(), SIGKILL);
}

TEST(RunEndings, an_unprivileged_user_runs_with_O_and_is_told_to_use_it_otherwise) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become an unprivileged user";
    const auto asNobody = [](std::vector<std::string> args) {
        args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        return std::make_unique<ChildProcess>(args);
    };
    auto probe = asNobody({SORTBENCH_BINARY, "-h"});
    (void)probe->RestOfStdout();
    const int probed = probe->Wait();
    if (!WIFEXITED(probed) || WEXITSTATUS(probed) != 0)
        GTEST_SKIP() << "the program is out of an unprivileged user's reach here";

    const TempDirectory logs;
    std::filesystem::permissions(logs.Path(), std::filesystem::perms::all);
    auto run = asNobody({SORTBENCH_BINARY, "-O", logs.File("mine"), "-MIN"});
    (void)run->RestOfStdout();
    EXPECT_EQ(run->Wait(), 0);
    std::vector<std::string> written;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(logs.File("mine")))
        if (entry.path().filename() == "bench_INT.csv") written.push_back(ReadWholeFile(entry.path().string()));
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(Lines(written[0]).size(), 6u);

    auto refused = asNobody({SORTBENCH_BINARY, "-MIN"});
    const std::string out = refused->RestOfStdout();
    EXPECT_EQ(WEXITSTATUS(refused->Wait()), 255);
    EXPECT_NE(out.find(" (not root: use -O DIR to put the results elsewhere)\n"), std::string::npos) << out;
}

TEST(RunDirectory, next_stamp_is_one_second_later_on_the_calendar) {
    const struct {
        const char* stamp;
        const char* next;
    } cases[] = {
        {"261207081500", "261207081501"},
        {"261207081559", "261207081600"},
        {"261231235959", "270101000000"},
        {"280228235959", "280229000000"},
        {"26120708150", ""},
        {"26120708150x", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(NextStamp(c.stamp), c.next) << c.stamp;
}

TEST(RunDirectory, repair_trims_only_the_run_files_it_wrote_never_through_links) {
    const TempDirectory logs;
    const TempDirectory outside;
    const std::string padded = std::string("row") + std::string(100, '\0');
    const std::string victim = outside.File("victim.csv");
    TestSupport::WriteWholeFile(victim, padded);
    const auto makeRun = [&](const std::string& name, bool withLock) {
        const std::string run = logs.File(name) + "/";
        std::filesystem::create_directory(run);
        if (withLock) TestSupport::WriteWholeFile(run + kRunLockFileName, "");
        return run;
    };
    const std::string ours = makeRun("cpu_261207081500", true);
    for (const char* name : {"bench_INT.csv", "stats_BIGFLOAT_zipf.csv", "run_conditions.txt", "notes.csv",
                             "bench_INT_bogus.csv", "bench_.csv"})
        TestSupport::WriteWholeFile(ours + name, padded);
    std::filesystem::create_symlink(victim, ours + "bench_FLOAT.csv");
    ASSERT_EQ(mkfifo((ours + "bench_BIGINT.csv").c_str(), 0600), 0);
    const std::string lockless = makeRun("cpu_261207081501", false);
    TestSupport::WriteWholeFile(lockless + "bench_INT.csv", padded);
    std::filesystem::create_directory(outside.File("elsewhere"));
    TestSupport::WriteWholeFile(outside.File("elsewhere/") + kRunLockFileName, "");
    TestSupport::WriteWholeFile(outside.File("elsewhere/bench_INT.csv"), padded);
    std::filesystem::create_directory_symlink(outside.File("elsewhere"), logs.File("cpu_261207081502"));

    EXPECT_EQ(RepairInterruptedRuns(logs.Path().string() + "/"), std::vector<std::string>{ours});
    for (const char* name : {"bench_INT.csv", "stats_BIGFLOAT_zipf.csv", "run_conditions.txt"})
        EXPECT_EQ(ReadWholeFile(ours + name), "row") << name;
    for (const char* name : {"notes.csv", "bench_INT_bogus.csv", "bench_.csv"})
        EXPECT_EQ(ReadWholeFile(ours + name), padded) << name;
    EXPECT_EQ(ReadWholeFile(victim), padded);
    EXPECT_EQ(ReadWholeFile(lockless + "bench_INT.csv"), padded);
    EXPECT_EQ(ReadWholeFile(outside.File("elsewhere/bench_INT.csv")), padded);
}

TEST(RunDirectory, a_directory_that_cannot_be_made_is_reported_with_its_reason_and_leaves_nothing_behind) {
    const TempDirectory dir;
    std::filesystem::create_symlink(dir.File("nowhere"), dir.File("dangling"));
    std::filesystem::create_symlink(dir.File("loop"), dir.File("loop"));
    TestSupport::WriteWholeFile(dir.File("file"), "");
    const auto before = RunDirectories(dir);
    // `length` characters below `dir` in names short enough to make, one by one.
    const auto pathOf = [&](size_t length) {
        std::string path = dir.Path().string();
        while (path.size() < length) {
            path += '/';
            path.append(std::min<size_t>(200, length - path.size()), 'd');
        }
        return path;
    };
    const struct {
        std::string logs;
        std::string shown;  // the start of the path the failure names
        std::string reason;
    } cases[] = {
        {dir.File("dangling/logs"), dir.File("dangling/logs/"), "a symbolic link to nothing"},
        {dir.File("loop/logs"), dir.File("loop/logs/"), std::strerror(ELOOP)},
        {dir.File("file/logs"), dir.File("file/logs/"), std::strerror(ENOTDIR)},
        {dir.File("file"), dir.File("file/"), std::strerror(ENOTDIR)},
        {pathOf(4242), pathOf(4242) + "/", std::strerror(ENAMETOOLONG)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logs.substr(0, 80));
        ChildProcess run({SORTBENCH_BINARY, "-O", c.logs, "-MIN"});
        const std::string out = run.RestOfStdout();
        EXPECT_EQ(WEXITSTATUS(run.Wait()), 255);
        const size_t failure = out.find("Failed to create directory: ");
        ASSERT_NE(failure, std::string::npos) << out;
        const std::string line = out.substr(failure);
        EXPECT_EQ(line.rfind("Failed to create directory: " + c.shown, 0), 0u) << out;
        EXPECT_TRUE(line.ends_with(": " + c.reason + "\n")) << out;
        EXPECT_EQ(RunDirectories(dir), before);
    }
    // Too long a path to name a run directory's files: they are reached through the held folder.
    const std::string noRoomForRun = pathOf(PATH_MAX - 8);
    std::filesystem::create_directories(noRoomForRun);
    ChildProcess run({SORTBENCH_BINARY, "-O", noRoomForRun, "-S", "100"});
    const std::string out = run.RestOfStdout();
    EXPECT_EQ(WEXITSTATUS(run.Wait()), 0) << out.substr(out.size() - std::min<size_t>(out.size(), 300));
}

TEST(RunDirectory, repair_reads_only_the_data_of_a_sparse_file_never_its_holes) {
    const TempDirectory logs;
    const std::string run = logs.File("cpu_261207081500") + "/";
    std::filesystem::create_directory(run);
    TestSupport::WriteWholeFile(run + kRunLockFileName, "");
    // Reading this file's holes would take minutes; they hold only zeros.
    constexpr off_t kSize = off_t{64} << 30;
    constexpr off_t kRow = kSize / 2;
    const int fd = open((run + "bench_INT.csv").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(pwrite(fd, "row", 3, 0), 3);
    EXPECT_EQ(pwrite(fd, "1,2", 3, kRow), 3);
    // Zeros written are data, not a hole, yet still padding.
    const std::string zeros(65536, '\0');
    EXPECT_EQ(pwrite(fd, zeros.data(), zeros.size(), kRow + (off_t{1} << 30)), 65536);
    EXPECT_EQ(ftruncate(fd, kSize), 0);
    close(fd);

    EXPECT_EQ(RepairInterruptedRuns(logs.Path().string() + "/"), std::vector<std::string>{run});
    EXPECT_EQ(std::filesystem::file_size(run + "bench_INT.csv"), static_cast<std::uintmax_t>(kRow + 3));
}
