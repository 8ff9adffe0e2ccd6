// The -JSON target against other runs: a live or dead run's directory is never a
// target, a live run's repair-proof lock, the placeholder in every ending, and
// locks that are no sortbench's claim. Runs the real program as a child process.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/TempDirectory.h"

using TestSupport::ChildProcess;
using TestSupport::ReadWholeFile;
using TestSupport::TempDirectory;
using TestSupport::WriteWholeFile;

namespace {

struct Ended {
    int status;
    std::string out;
    std::string err;
};

Ended RunProgram(std::vector<std::string> args) {
    args.insert(args.begin(), SORTBENCH_BINARY);
    ChildProcess child(args);
    Ended ended{0, child.RestOfStdout(), child.Stderr()};
    const int status = child.Wait();
    ended.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return ended;
}

// A run paused once it has written rows: alive, holding its directory.
std::unique_ptr<ChildProcess> PausedRun(const TempDirectory& logs) {
    auto run =
        std::make_unique<ChildProcess>(std::vector<std::string>{SORTBENCH_BINARY, "-O", logs.Path().string(), "-1M"});
    EXPECT_TRUE(run->SkipToLine("INT CPU 8 Thread", 2));
    kill(run->Pid(), SIGSTOP);
    return run;
}

std::string OnlyEntry(const std::filesystem::path& folder) {
    return std::filesystem::directory_iterator(folder)->path().string() + "/";
}

// Waits for `path` to exist, as long as a run needs to reach it however busy
// the machine is; false after a minute.
bool AppearsWithin(const std::string& path) {
    for (int tries = 0; tries < 60000; ++tries) {
        if (std::filesystem::exists(path)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// A run whose standard output is a full pipe: its first line, which comes after
// the -JSON claim and before the first cell, waits until the pipe is read.
class RunHeldAtItsFirstLine {
public:
    explicit RunHeldAtItsFirstLine(std::vector<std::string> args) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        (void)fcntl(out[1], F_SETPIPE_SZ, 4096);
        (void)fcntl(out[1], F_SETFL, O_NONBLOCK);
        while (write(out[1], "x", 1) == 1) {}
        (void)fcntl(out[1], F_SETFL, 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        args.insert(args.begin(), SORTBENCH_BINARY);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        output = out[0];
        if (failed != 0) throw std::runtime_error("cannot start the program");
    }
    RunHeldAtItsFirstLine(const RunHeldAtItsFirstLine&) = delete;
    RunHeldAtItsFirstLine& operator=(const RunHeldAtItsFirstLine&) = delete;
    ~RunHeldAtItsFirstLine() {
        if (pid > 0) (void)Ended(SIGKILL);
        CloseOutput();
    }

    // Ends the run with `signal` (SIGPIPE: by closing the pipe) and returns its wait status.
    int Ended(int signal) {
        if (signal == SIGPIPE) {
            CloseOutput();
        } else {
            kill(pid, signal);
        }
        char buffer[4096];
        while (output >= 0 && read(output, buffer, sizeof buffer) > 0) {}
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        pid = -1;
        return status;
    }

private:
    void CloseOutput() {
        if (output >= 0) close(output);
        output = -1;
    }

    pid_t pid = -1;
    int output = -1;
};

}  // namespace

TEST(JsonTarget, a_file_in_a_run_directory_live_or_dead_is_refused_before_any_directory) {
    const TempDirectory logs;
    const TempDirectory other;
    auto live = PausedRun(logs);
    const std::string liveDir = OnlyEntry(logs.Path());
    const std::string before = ReadWholeFile(liveDir + "bench_INT.csv");
    // A live run's directory under any name: its own lock tells it.
    const std::string renamed = other.File("renamed/");
    std::filesystem::rename(liveDir, renamed);
    // A dead run's directory: its name and its run.json tell it.
    const std::string dead = other.File("cpu_250101000000/");
    std::filesystem::create_directory(dead);
    WriteWholeFile(dead + "run.json", "{}");
    const std::string outside = other.File("cpu_250101000001/");
    std::filesystem::create_directory(outside);
    const struct {
        std::string target;
        bool refused;
    } cases[] = {
        {renamed + "bench_INT.csv", true}, {renamed + "run.lock", true}, {renamed + "run.json", true},
        {renamed + "new.json", true},      {dead + "new.json", true},    {outside + "new.json", false},
    };
    for (const auto& c : cases) {
        const std::string second = other.File("second");
        const Ended run = RunProgram({"-S", "100", "-O", second, "-JSON", c.target});
        if (!c.refused) {
            EXPECT_EQ(run.status, 0) << c.target << run.err;
            continue;
        }
        EXPECT_EQ(run.status, 1) << c.target;
        EXPECT_EQ(run.err, "Cannot write " + c.target + ": inside a sortbench run directory\n");
        EXPECT_FALSE(std::filesystem::exists(second)) << c.target;
    }
    EXPECT_EQ(ReadWholeFile(renamed + "bench_INT.csv"), before);
}

TEST(JsonTarget, the_repair_leaves_a_live_run_alone_whose_lock_file_was_replaced) {
    const TempDirectory logs;
    auto live = PausedRun(logs);
    const std::string liveDir = OnlyEntry(logs.Path());
    const std::string before = ReadWholeFile(liveDir + "bench_INT.csv");
    ASSERT_NE(before.find('\0'), std::string::npos) << "a live run's file has room for its next rows";
    WriteWholeFile(liveDir + "planted.lock", "");
    std::filesystem::rename(liveDir + "planted.lock", liveDir + "run.lock");

    const Ended next = RunProgram({"-O", logs.Path().string(), "-INFO"});
    EXPECT_EQ(next.status, 1);
    EXPECT_EQ(next.out.find("Repaired"), std::string::npos) << next.out;
    EXPECT_EQ(ReadWholeFile(liveDir + "bench_INT.csv"), before);
}

TEST(JsonTarget, every_interruption_before_the_first_cell_removes_the_placeholder) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        SCOPED_TRACE(strsignal(signal));
        const TempDirectory dir;
        const std::string target = dir.File("r.json");
        RunHeldAtItsFirstLine run({"-S", "100", "-O", dir.File("logs"), "-JSON", target});
        ASSERT_TRUE(AppearsWithin(target));
        const int status = run.Ended(signal);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_FALSE(std::filesystem::exists(target));
    }
}

TEST(JsonTarget, the_next_run_takes_over_the_placeholder_a_killed_run_left) {
    const TempDirectory dir;
    const std::string target = dir.File("r.json");
    {
        RunHeldAtItsFirstLine killed({"-S", "100", "-O", dir.File("logs"), "-JSON", target});
        ASSERT_TRUE(AppearsWithin(target));
        EXPECT_EQ(killed.Ended(SIGKILL) & 0x7f, SIGKILL);
    }
    ASSERT_EQ(std::filesystem::file_size(target), 0u) << "what SIGKILL leaves";
    // Measuring nothing, the next run leaves the path as the killed run found it.
    const Ended next = RunProgram({"-INFO", "-O", dir.File("logs"), "-JSON", target});
    EXPECT_EQ(next.status, 1) << next.err;
    EXPECT_FALSE(std::filesystem::exists(target));
}

TEST(JsonTarget, a_lock_that_is_no_sortbench_claim_is_named_as_what_it_is) {
    const TempDirectory dir;
    const std::string target = dir.File("r.json");
    WriteWholeFile(target, "an earlier run's results");
    int ready[2];
    int release[2];
    ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(release, O_CLOEXEC), 0);
    // Another process, as another user when the test may become one, reads the file under a lock.
    const pid_t reader = fork();
    if (reader == 0) {
        close(release[1]);
        const int fd = open(target.c_str(), O_RDONLY);
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0))
            _exit(1);
        struct flock lock {};
        lock.l_type = F_RDLCK;
        lock.l_whence = SEEK_SET;
        char signal = 0;
        if (fcntl(fd, F_SETLK, &lock) != 0 || write(ready[1], &signal, 1) != 1) _exit(1);
        (void)!read(release[0], &signal, 1);
        _exit(0);
    }
    char signal = 0;
    ASSERT_EQ(read(ready[0], &signal, 1), 1);

    const Ended run = RunProgram({"-S", "100", "-O", dir.File("logs"), "-JSON", target});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Cannot write " + target + ": process " + std::to_string(reader) + " holds a read lock on it\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("logs")));
    close(release[1]);
    waitpid(reader, nullptr, 0);
    for (const int fd : {ready[0], ready[1], release[0]}) close(fd);
}
