// The real program's command line: values it must refuse before anything is
// created, output paths it must never replace, distributions named twice, and a
// seeded fuzz of argument lists. Runs the program as a child process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "driver/output/JsonResults.h"
#include "driver/command_line/RunPlan.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDirectory.h"

using TestSupport::ChildProcess;
using TestSupport::ReadWholeFile;
using TestSupport::TempDirectory;

namespace {

struct Ended {
    int status;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs the program with `args`; a run that hangs is killed after `seconds`.
Ended RunProgram(const std::vector<std::string>& args, int seconds = 60) {
    std::vector<std::string> command{"/usr/bin/timeout", "-s", "KILL", std::to_string(seconds), SORTBENCH_BINARY};
    command.insert(command.end(), args.begin(), args.end());
    ChildProcess child(command);
    Ended ended{0, child.RestOfStdout(), child.Stderr()};
    const int status = child.Wait();
    ended.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return ended;
}

std::size_t Entries(const std::filesystem::path& directory) {
    std::error_code error;
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(directory, error), {}));
}

}  // namespace

TEST(CommandLine, json_paths_that_are_no_regular_file_are_refused_before_any_directory) {
    const TempDirectory dir;
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.File("directory"));
    std::filesystem::create_symlink("nowhere", dir.File("dangling"));
    std::vector<std::string> refused{"fifo", "directory", "dangling"};
    // A device node of our own, never the system's /dev/null.
    if (geteuid() == 0 && mknod(dir.File("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) refused.push_back("null");
    for (const std::string& name : refused) {
        const std::string logs = dir.File("logs-" + name);
        const Ended run = RunProgram({"-MIN", "-O", logs, "-JSON", dir.File(name)});
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(run.out.rfind("Cannot write " + dir.File(name) + ": ", 0), 0u) << run.out;
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
        EXPECT_FALSE(std::filesystem::exists(logs)) << name;
    }
    struct stat status {};
    EXPECT_TRUE(stat(dir.File("fifo").c_str(), &status) == 0 && S_ISFIFO(status.st_mode));
    if (refused.back() == "null") EXPECT_TRUE(stat(dir.File("null").c_str(), &status) == 0 && S_ISCHR(status.st_mode));
}

TEST(CommandLine, a_distribution_named_twice_runs_once_and_keeps_its_rows) {
    const TempDirectory dir;
    const Ended run = RunProgram({"-S", "100", "-D", "zipf,uniform,zipf", "-O", dir.Path().string()});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "-D zipf,uniform,zipf: each key distribution runs once (zipf named more than once)\n");
    std::string runDir;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) runDir = entry.path().string() + "/";
    for (const char* file : {"bench_INT_zipf.csv", "bench_BIGFLOAT_zipf.csv", "bench_INT.csv"}) {
        const std::string text = ReadWholeFile(runDir + file);
        EXPECT_EQ(text.find('\0'), std::string::npos) << file;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << file << ": " << text;
    }
}

// Random argument lists of options and values, good and bad: none may crash the
// program or hang it, and every list the program must refuse creates nothing.
TEST(CommandLine, random_argument_lists_never_crash_hang_or_create_anything_when_refused) {
    const TempDirectory dir;
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.File("directory"));
    const std::vector<std::string> words{
        "-GPU", "-gpu", "-QA", "-INFO", "-MIN", "-min", "-100K", "-1M", "-10M", "-100M", "-500M", "-1B", "-S500M",
        "-S750M", "-S1B", "-S", "-s", "-R", "-r", "-O", "-D", "-d", "-PEERS", "-JSON", "-h", "--help", "-Gpu", "-S300",
        "", "-", "0", "1", "2", "-1", "-0", "+3", "1.5", ".5", "1001", "abc", "18446744073709551615",
        "18446744073709551616", "99999999999999999999", "-18446744073709551616", "zipf", "zipf,zipf", "all,sorted",
        "sorted,,zipf", "bogus", dir.File("out.json"), dir.File("fifo"), dir.File("directory"), dir.File("o")};
    // Relative paths the lists name ("-JSON zipf") land here, not in the build tree.
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    std::mt19937 random(20261207);
    std::uniform_int_distribution<std::size_t> pick(0, words.size() - 1);
    std::uniform_int_distribution<int> length(0, 6);
    for (int list = 0; list < 300; ++list) {
        std::vector<std::string> args;
        for (int n = length(random); n > 0; --n) args.push_back(words[pick(random)]);
        // Every run stays short (one in twenty benchmarks -MIN, the others stop after
        // the report), and its directories go where this test looks.
        const std::string logs = dir.File("logs-" + std::to_string(list));
        args.insert(args.end(), {list % 20 == 0 ? "-MIN" : "-INFO", "-O", logs});
        std::string shown;
        for (const std::string& arg : args) shown += " '" + arg + "'";
        SCOPED_TRACE(shown);

        std::vector<const char*> argv{SORTBENCH_BINARY};
        for (const std::string& arg : args) argv.push_back(arg.c_str());
        const RunPlan plan = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), "261207081500");
        testing::internal::CaptureStdout();
        const bool jsonRefused = plan.error.empty() && !plan.jsonPath.empty() && !JsonResults::CanWrite(plan.jsonPath);
        testing::internal::GetCapturedStdout();
        const bool refused = !plan.error.empty() || jsonRefused;

        const Ended run = RunProgram(args, 30);
        ASSERT_LT(run.status, 128) << "crashed or hung\n" << run.out << run.err;
        if (plan.showUsage) {
            EXPECT_EQ(run.status, 0);
        } else if (refused) {
            EXPECT_EQ(run.status, 1) << run.out << run.err;
        }
        if (plan.showUsage || refused) {
            EXPECT_FALSE(std::filesystem::exists(logs));
            if (plan.logDirectory.rfind(dir.Path().string(), 0) == 0) {
                EXPECT_FALSE(std::filesystem::exists(plan.logDirectory));
            }
        } else {
            // 255: a path given to -O that cannot be a directory.
            EXPECT_TRUE(run.status == 0 || run.status == 1 || run.status == 255) << run.out << run.err;
        }
        std::filesystem::remove_all(logs);
        std::filesystem::remove_all(dir.File("o"));
    }
    std::filesystem::current_path(previous);
    struct stat status {};
    EXPECT_TRUE(stat(dir.File("fifo").c_str(), &status) == 0 && S_ISFIFO(status.st_mode));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("directory")));
    EXPECT_EQ(Entries(dir.File("directory")), 0u);
}
