// The real program's command line: values it must refuse before anything is
// created, output paths it must never replace, distributions named twice, and a
// seeded fuzz of argument lists. Runs the program as a child process.
#include <pty.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "driver/command_line/RunPlan.h"
#include "driver/output/JsonResults.h"
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

// Runs the program with standard error on a pseudo-terminal and standard output
// on the same terminal (`sharedTerminal`) or on a pipe; returns what the
// terminal received and what the pipe received.
std::pair<std::string, std::string> RunOnTerminal(const std::vector<std::string>& args, bool sharedTerminal) {
    int master = -1;
    int slave = -1;
    winsize size{};
    size.ws_col = 200;
    size.ws_row = 50;
    if (openpty(&master, &slave, nullptr, nullptr, &size) != 0) throw std::runtime_error("openpty failed");
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sharedTerminal ? slave : out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, slave, STDERR_FILENO);
    std::vector<std::string> command{SORTBENCH_BINARY};
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : command) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(slave);
    close(out[1]);
    if (failed != 0) throw std::runtime_error("cannot start the program");
    std::string terminal;
    std::string piped;
    char buffer[4096];
    // The terminal says EIO once the child and its copies of the slave are gone.
    for (ssize_t got; (got = read(master, buffer, sizeof buffer)) > 0;)
        terminal.append(buffer, static_cast<std::size_t>(got));
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;)
        piped.append(buffer, static_cast<std::size_t>(got));
    close(master);
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << terminal;
    return {terminal, piped};
}

}  // namespace

TEST(CommandLine, a_terminal_on_standard_error_shows_a_status_line_that_never_mixes_with_the_lines) {
    const TempDirectory dir;
    const std::vector<std::string> args{"-S", "20000", "-R", "3", "-D", "uniform,zipf", "-O", dir.Path().string()};
    const auto [shared, nothing] = RunOnTerminal(args, true);
    // A terminal turns "\n" into "\r\n"; what stays visible of a row is what
    // follows the last erase on it.
    EXPECT_NE(shared.find("INT zipf 1/1 ("), std::string::npos) << shared;
    EXPECT_NE(shared.find("): CPU, round 2 of 3 | "), std::string::npos);
    EXPECT_NE(shared.find(" left"), std::string::npos);
    std::size_t rows = 0;
    for (std::size_t start = 0; start <= shared.size(); ++rows) {
        const std::size_t end = std::min(shared.find('\n', start), shared.size());
        std::string row = shared.substr(start, end - start);
        const std::size_t erased = row.rfind("\033[K");
        if (erased != std::string::npos) row.erase(0, erased + 3);
        EXPECT_EQ(row.find(" elapsed"), std::string::npos) << "a status line left on row " << rows << ": " << row;
        start = end + 1;
    }
    EXPECT_GT(rows, 20u);

    // Standard output elsewhere stays as it is without a terminal.
    const auto [status, piped] = RunOnTerminal(args, false);
    EXPECT_EQ(piped.find('\033'), std::string::npos);
    EXPECT_NE(piped.find("\nBIGFLOAT CPU 8 Thread - "), std::string::npos);
    EXPECT_NE(status.find(" elapsed"), std::string::npos);
}

TEST(CommandLine, auto_repetitions_show_the_interval_in_every_place_a_median_shows) {
    const TempDirectory dir;
    // The shrunken probe, and a count large enough for its arrays: the radix columns have floors.
    setenv("SORTBENCH_QUICK_LIMITS", "1", 1);
    // Six rounds come before the budget, however slow the machine: every cell has its interval.
    const Ended run =
        RunProgram({"-S", "20000", "-R", "auto", "-T", "0.3", "-O", dir.File("logs"), "-JSON", dir.File("run.json")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find(", 95% CI "), std::string::npos) << run.out;
    // An estimate, worded as one: load after the pilot can outrun it.
    EXPECT_NE(run.out.find("\nEstimated run time: about "), std::string::npos);
    EXPECT_NE(run.out.find(" longer if the machine gets busier)\n"), std::string::npos);
    EXPECT_EQ(run.out.find("at most about"), std::string::npos);
    EXPECT_NE(run.out.find("INT 20000: "), std::string::npos);
    EXPECT_NE(run.out.find(" median's 95% interval within 1% after "), std::string::npos);
    EXPECT_NE(run.out.find(" s, machine drift "), std::string::npos);
    std::string runDir;
    for (const auto& entry : std::filesystem::directory_iterator(dir.File("logs")))
        runDir = entry.path().string() + "/";
    const std::string stats = ReadWholeFile(runDir + "stats_FLOAT.csv");
    EXPECT_EQ(stats.rfind("NbRecords,Column,Runs,Min,Median,Mean,Max,StdDev,Times,CiLow,CiHigh,KeysPerSecond,FloorMs,"
                          "FloorRatio,ReferenceTimes\n",
                          0),
              0u);
    const std::string speedups = ReadWholeFile(runDir + "speedup_FLOAT.csv");
    EXPECT_EQ(speedups.rfind("NbRecords,Column,Runs,Median,CiLow,CiHigh,Ratios\n20000,CPU 1 Thread,", 0), 0u);
    const std::string json = ReadWholeFile(dir.File("run.json"));
    EXPECT_NE(json.find("\"CiLow\": "), std::string::npos);
    EXPECT_NE(json.find("\"CiHigh\": "), std::string::npos);
    EXPECT_NE(json.find("\"limits\": \"measured\""), std::string::npos);
    EXPECT_NE(json.find("\"MemoryFloor\": "), std::string::npos);
    EXPECT_NE(json.find("\"FloorRatio\": "), std::string::npos);
    EXPECT_NE(json.find("\"ReferenceMs\": "), std::string::npos);
    EXPECT_NE(ReadWholeFile(runDir + "run.json").find("\"reference_ms\": ["), std::string::npos);
}

TEST(CommandLine, limits_print_the_report_and_the_figures_and_create_nothing) {
    const TempDirectory dir;
    setenv("SORTBENCH_QUICK_LIMITS", "1", 1);
    const Ended run = RunProgram({"-LIMITS", "-R", "3", "-O", dir.File("logs"), "-JSON", dir.File("run.json")});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    for (const char* part :
         {"CPU INFO ---", "\n----------------------------- GPU INFO ---", "\n------------------------------ LIMITS ---",
          "\nLimits: best of 1, ", "\nLimits: moves, 8-byte keys into 65536 fronts (M/s): "})
        EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
    EXPECT_FALSE(std::filesystem::exists(dir.File("logs")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("run.json")));
}

TEST(CommandLine, json_paths_that_are_no_regular_file_are_refused_before_any_directory) {
    const TempDirectory dir;
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.File("directory"));
    std::filesystem::create_symlink("nowhere", dir.File("dangling"));
    std::vector<std::string> refused{"fifo", "directory", "dangling"};
    // A device node of our own, never the system's /dev/null.
    if (geteuid() == 0 && mknod(dir.File("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        refused.push_back("null");
    // Another user's link, planted where root writes its results: never followed.
    std::ofstream(dir.File("precious")) << "precious";
    std::filesystem::create_symlink(dir.File("precious"), dir.File("planted"));
    if (geteuid() == 0 && lchown(dir.File("planted").c_str(), 65534, 65534) == 0) refused.push_back("planted");
    for (const std::string& name : refused) {
        const std::string logs = dir.File("logs-" + name);
        const Ended run = RunProgram({"-MIN", "-O", logs, "-JSON", dir.File(name)});
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_EQ(run.out, "") << name;
        EXPECT_EQ(run.err.rfind("Cannot write " + dir.File(name) + ": ", 0), 0u) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE(std::filesystem::exists(logs)) << name;
    }
    if (refused.back() == "planted") {
        std::ifstream kept(dir.File("precious"));
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "precious");
    }
    struct stat status {};
    EXPECT_TRUE(stat(dir.File("fifo").c_str(), &status) == 0 && S_ISFIFO(status.st_mode));
    if (refused.back() == "null") {
        EXPECT_TRUE(stat(dir.File("null").c_str(), &status) == 0 && S_ISCHR(status.st_mode));
    }
}

TEST(CommandLine, a_json_file_another_run_writes_is_refused_before_any_directory) {
    const TempDirectory dir;
    ChildProcess first({SORTBENCH_BINARY, "-1M", "-O", dir.File("first"), "-JSON", dir.File("run.json")});
    ASSERT_TRUE(first.SkipToLine("INT CPU 8 Thread", 1));
    std::filesystem::create_directory(dir.File("via"));
    // The same file by another spelling.
    const Ended second = RunProgram({"-MIN", "-O", dir.File("second"), "-JSON", dir.File("via/../run.json")});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err,
              "Cannot write " + dir.File("via/../run.json") + ": another running sortbench writes its results there\n");
    EXPECT_FALSE(std::filesystem::exists(dir.File("second")));
}

TEST(CommandLine, control_characters_in_arguments_reach_the_terminal_escaped) {
    const TempDirectory dir;
    const Ended run = RunProgram({"-MIN", "-O", dir.Path().string(), "\033]0;owned\a\nWARNING: none", "-R", "\033[2J"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "Ignoring unknown argument: \\x1b]0;owned\\x07\\nWARNING: none (-help lists the options)\n"
              "-R takes a whole number of repetitions from 1 to 1000, not \\x1b[2J\n");
    // C1 controls, as UTF-8 and as a Latin-1 byte, and a bidirectional override.
    const Ended wide = RunProgram({"A\xc2\x9bK", "\xe2\x80\xaegpj.exe", "-R", "\x9b"});
    EXPECT_EQ(wide.status, 1);
    EXPECT_EQ(wide.err,
              "Ignoring unknown argument: A\\xc2\\x9bK (-help lists the options)\n"
              "Ignoring unknown argument: \\xe2\\x80\\xaegpj.exe (-help lists the options)\n"
              "-R takes a whole number of repetitions from 1 to 1000, not \\x9b\n");
}

TEST(CommandLine, an_option_without_its_value_is_one_line_and_nothing_runs) {
    const TempDirectory dir;
    const struct {
        std::vector<std::string> args;
        const char* line;
    } cases[] = {
        {{"-R", "auto", "-CI", "-S", "100"},
         "-CI takes the half-width of the median's interval in percent, from 0.1 to 50\n"},
        {{"-S", "abc", "-R", "3"}, "-S takes a record count, not abc\n"},
        {{"-SEED", "12x", "-S", "100"}, "-SEED takes a whole number from 0 to 18446744073709551615, not 12x\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-O", dir.File("logs")});
        const Ended run = RunProgram(args);
        EXPECT_EQ(run.status, 1) << c.line;
        EXPECT_EQ(run.err, c.line);
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(std::filesystem::exists(dir.File("logs")));
    }
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
// The parser is the oracle of which lists are refused: this test catches crashes,
// hangs and files made by refused runs, not a wrong refusal (the tables above do).
TEST(CommandLine, random_argument_lists_never_crash_hang_or_create_anything_when_the_parser_refuses_them) {
    const TempDirectory dir;
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(dir.File("directory"));
    // Packed: the words are many and short.
    // clang-format off
    const std::vector<std::string> words{
        "-GPU", "-gpu", "-QA", "-INFO", "-MIN", "-min", "-100K", "-1M", "-10M", "-100M", "-500M", "-1B", "-S500M",
        "-S750M", "-S1B", "-S", "-s", "-R", "-r", "-O", "-D", "-d", "-PEERS", "-JSON", "-SEED", "-h", "--help", "-Gpu",
        "-S300", "", "-", "0", "1", "2", "-1", "-0", "+3", "1.5", ".5", "1001", "abc", "18446744073709551615",
        "18446744073709551616", "99999999999999999999", "-18446744073709551616", "zipf", "zipf,zipf", "all,sorted",
        "sorted,,zipf", "bogus", "tbb,pdqsort", dir.File("out.json"), dir.File("fifo"), dir.File("directory"),
        dir.File("o")};
    // clang-format on
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
        testing::internal::CaptureStderr();
        const bool jsonRefused = plan.error.empty() && !plan.jsonPath.empty() && !JsonResults::CanWrite(plan.jsonPath);
        testing::internal::GetCapturedStderr();
        const bool refused = !plan.error.empty() || jsonRefused;

        // A hang, not a slow machine: generous even under sanitizers on two busy cores.
        const Ended run = RunProgram(args, 300);
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

TEST(CommandLine, an_estimated_run_refuses_a_count_it_could_never_hold_before_any_directory) {
    const TempDirectory dir;
    const struct {
        const char* count;
        const char* reason;
    } cases[] = {
        {"18446744073709551615", "indices are 32-bit, at most 4294967295 records"},
        {"4294967296", "indices are 32-bit, at most 4294967295 records"},
    };
    for (const auto& c : cases) {
        const Ended run = RunProgram({"-S", c.count, "-R", "auto", "-O", dir.File("logs")});
        EXPECT_EQ(run.status, 1) << c.count;
        EXPECT_EQ(run.out, "") << "no probe, no pilot, no estimate";
        EXPECT_EQ(run.err.rfind(std::string("Cannot benchmark ") + c.count + " INT records: " + c.reason, 0), 0u)
            << run.err;
        EXPECT_FALSE(std::filesystem::exists(dir.File("logs")));
    }
}
