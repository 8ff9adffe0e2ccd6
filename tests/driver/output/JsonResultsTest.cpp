#include "driver/output/JsonResults.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/TempDirectory.h"

namespace {

constexpr const char* kComparePy = "/usr/share/benchmark/compare.py";
// Debian's python3-scipy serves the system interpreter, which a python3 earlier
// on PATH (pyenv, a virtualenv) may hide from compare.py's "env python3" line.
constexpr const char* kPython = "/usr/bin/python3 ";

class JsonResultsTest : public ::testing::Test {
protected:
    std::vector<std::string> DirectoryEntries() const {
        std::vector<std::string> names;
        DIR* listing = opendir(dir.c_str());
        while (const dirent* entry = readdir(listing)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(listing);
        return names;
    }

    const TestSupport::TempDirectory temp;
    const std::string dir = temp.Path().string();
};

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The command's standard output (and error); `status` gets its exit status.
std::string RunCommand(const std::string& command, int& status) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
    const int raw = pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

}  // namespace

TEST_F(JsonResultsTest, document_parses_with_google_benchmark_layout) {
    const std::string path = dir + "/r.json";
    JsonResults results(path, "/bin/sortbench", 3, ReadMachineFacts());
    results.Add("INT", "CPU 1 Thread", 1000, {2, 1, 4});
    results.Add("INT", "Odd \"col\"\\\t", 1000, {1, 1, 1});
    results.Add("INT", "CPU 1 Thread", 4000, {8, 8, 8});
    ASSERT_TRUE(results.Write());

    // One line per entry: name|family|instance|run_type|repetition or aggregate|iterations|real|cpu|items/s.
    const std::string script =
        "import json,sys\n"
        "d=json.load(open(sys.argv[1]))\n"
        "c=d['context']\n"
        "assert isinstance(c['num_cpus'],int) and isinstance(c['mhz_per_cpu'],int), c\n"
        "assert isinstance(c['cpu_scaling_enabled'],bool) and len(c['load_avg'])==3, c\n"
        "assert all(set(x)=={'type','level','size','num_sharing'} for x in c['caches']), c\n"
        "assert c['executable']=='/bin/sortbench' and c['library_build_type'] in ('release','debug'), c\n"
        "assert c['date'][-6] in '+-' and c['date'][-3]==':', c['date']\n"
        "for b in d['benchmarks']:\n"
        "  assert b['repetitions']==3 and b['threads']==1 and b['time_unit']=='ms', b\n"
        "  print('%s|%d|%d|%s|%s|%d|%g|%g|%g'%(b['name'],b['family_index'],b['per_family_instance_index'],"
        "b['run_type'],b.get('aggregate_name',b.get('repetition_index')),b['iterations'],"
        "b['real_time'],b['cpu_time'],b['items_per_second']))\n";
    std::ofstream(dir + "/check.py") << script;
    int status = 0;
    const std::string lines = RunCommand(kPython + dir + "/check.py " + path, status);
    EXPECT_EQ(status, 0) << lines;
    EXPECT_EQ(lines,
              "INT/CPU 1 Thread/1000|0|0|iteration|0|1|2|2|500000\n"
              "INT/CPU 1 Thread/1000|0|0|iteration|1|1|1|1|1e+06\n"
              "INT/CPU 1 Thread/1000|0|0|iteration|2|1|4|4|250000\n"
              "INT/CPU 1 Thread/1000_mean|0|0|aggregate|mean|3|2.33333|2.33333|583333\n"
              "INT/CPU 1 Thread/1000_median|0|0|aggregate|median|3|2|2|500000\n"
              "INT/CPU 1 Thread/1000_stddev|0|0|aggregate|stddev|3|1.52753|1.52753|381881\n"
              "INT/Odd \"col\"\\\t/1000|1|0|iteration|0|1|1|1|1e+06\n"
              "INT/Odd \"col\"\\\t/1000|1|0|iteration|1|1|1|1|1e+06\n"
              "INT/Odd \"col\"\\\t/1000|1|0|iteration|2|1|1|1|1e+06\n"
              "INT/Odd \"col\"\\\t/1000_mean|1|0|aggregate|mean|3|1|1|1e+06\n"
              "INT/Odd \"col\"\\\t/1000_median|1|0|aggregate|median|3|1|1|1e+06\n"
              "INT/Odd \"col\"\\\t/1000_stddev|1|0|aggregate|stddev|3|0|0|0\n"
              "INT/CPU 1 Thread/4000|0|1|iteration|0|1|8|8|500000\n"
              "INT/CPU 1 Thread/4000|0|1|iteration|1|1|8|8|500000\n"
              "INT/CPU 1 Thread/4000|0|1|iteration|2|1|8|8|500000\n"
              "INT/CPU 1 Thread/4000_mean|0|1|aggregate|mean|3|8|8|500000\n"
              "INT/CPU 1 Thread/4000_median|0|1|aggregate|median|3|8|8|500000\n"
              "INT/CPU 1 Thread/4000_stddev|0|1|aggregate|stddev|3|0|0|0\n");
}

TEST_F(JsonResultsTest, single_run_has_no_aggregates_and_empty_run_is_valid) {
    const std::string path = dir + "/r.json";
    JsonResults results(path, "sortbench", 1, ReadMachineFacts());
    ASSERT_TRUE(results.Write());
    int status = 0;
    const std::string count =
        std::string(kPython) + "-c \"import json,sys; print(len(json.load(open(sys.argv[1]))['benchmarks']))\" ";
    EXPECT_EQ(RunCommand(count + path, status), "0\n");
    results.Add("FLOAT", "CPU Standard", 10, {5});
    ASSERT_TRUE(results.Write());
    EXPECT_EQ(RunCommand(count + path, status), "1\n");
}

TEST_F(JsonResultsTest, write_replaces_the_file_and_leaves_no_temporary) {
    const std::string path = dir + "/r.json";
    std::ofstream(path) << "old contents that are longer than nothing";
    JsonResults results(path, "sortbench", 1, ReadMachineFacts());
    results.Add("INT", "CPU Standard", 10, {1});
    ASSERT_TRUE(results.Write());
    EXPECT_EQ(Slurp(path), results.Text());
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"r.json"});
}

TEST_F(JsonResultsTest, unwritable_path_prints_one_line_and_leaves_no_temporary) {
    // A directory in the way fails only at the rename, after the temporary exists.
    const std::string path = dir + "/taken";
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    std::ofstream(path + "/keep") << "x";
    JsonResults results(path, "sortbench", 1, ReadMachineFacts());
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(results.Write());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Cannot write " + path + ": Is a directory\n");
    EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"taken"});
}

TEST_F(JsonResultsTest, signal_handler_writes_the_latest_document_until_destruction) {
    const std::string path = dir + "/r.json";
    {
        JsonResults results(path, "sortbench", 2, ReadMachineFacts());
        results.Add("INT", "CPU Standard", 10, {1, 2});
        results.Add("BIGINT", "CPU 8 Thread", 20, {3, 4});
        ASSERT_TRUE(results.Write());
        const std::string written = Slurp(path);
        ASSERT_EQ(unlink(path.c_str()), 0);
        JsonResults::WriteFromSignalHandler();
        EXPECT_EQ(Slurp(path), written);
        EXPECT_NE(written.find("BIGINT/CPU 8 Thread/20_stddev"), std::string::npos);
        ASSERT_EQ(unlink(path.c_str()), 0);
    }
    JsonResults::WriteFromSignalHandler();
    EXPECT_TRUE(DirectoryEntries().empty());
}

TEST_F(JsonResultsTest, only_nothing_a_regular_file_or_a_link_to_one_can_be_replaced) {
    ASSERT_EQ(mkdir((dir + "/directory").c_str(), 0700), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    std::ofstream(dir + "/regular") << "old";
    ASSERT_EQ(symlink("regular", (dir + "/link").c_str()), 0);
    ASSERT_EQ(symlink("missing", (dir + "/dangling").c_str()), 0);
    ASSERT_EQ(symlink("loop", (dir + "/loop").c_str()), 0);
    std::ofstream(dir + "/read-only") << "old";
    // Read-only by its mode, which root's access() would not say.
    ASSERT_EQ(chmod((dir + "/read-only").c_str(), 0444), 0);
    const struct {
        const char* name;
        const char* problem;  // empty: accepted
    } cases[] = {
        {"new.json", ""},
        {"regular", ""},
        {"link", ""},
        {"directory", "Is a directory"},
        {"fifo", "not a regular file"},
        {"dangling", "a symbolic link to nothing"},
        {"loop", "Too many levels of symbolic links"},
        {"missing/new.json", "No such file or directory"},
        {"read-only", "Permission denied"},
        {"new.json/", "Is a directory"},
        {"regular/", "Not a directory"},
        {"regular/.", "Not a directory"},
    };
    for (const auto& c : cases) {
        const std::string path = dir + "/" + c.name;
        ::testing::internal::CaptureStderr();
        const bool accepted = JsonResults::CanWrite(path);
        const std::string line = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(accepted, *c.problem == '\0') << c.name;
        EXPECT_EQ(line, accepted ? "" : "Cannot write " + path + ": " + c.problem + "\n") << c.name;
    }
    struct stat status {};
    EXPECT_TRUE(stat((dir + "/fifo").c_str(), &status) == 0 && S_ISFIFO(status.st_mode));

    // A link keeps pointing where it did; the file it leads to gets the document.
    JsonResults results(dir + "/link", "sortbench", 1, ReadMachineFacts());
    results.Add("INT", "CPU Standard", 10, {1});
    ASSERT_TRUE(results.Write());
    EXPECT_EQ(Slurp(dir + "/regular"), results.Text());
    char target[64] = {};
    ASSERT_GT(readlink((dir + "/link").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "regular");

    // What the path became during the run is checked again before the rename.
    JsonResults later(dir + "/became-a-fifo", "sortbench", 1, ReadMachineFacts());
    later.Add("INT", "CPU Standard", 10, {1});
    ASSERT_EQ(mkfifo((dir + "/became-a-fifo").c_str(), 0600), 0);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(later.Write());
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Cannot write " + dir + "/became-a-fifo: not a regular file\n");
}

TEST_F(JsonResultsTest, planted_temporary_names_are_never_followed_and_permissions_are_kept) {
    const std::string path = dir + "/r.json";
    std::ofstream(path) << "old";
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    std::ofstream(dir + "/victim") << "precious";
    // Every name a temporary file of this process could take first, planted as a link.
    for (const std::string& planted : {path + ".tmp", dir + "/.r.json." + std::to_string(getpid()) + ".0.tmp",
                                       dir + "/.r.json." + std::to_string(getpid()) + ".1.tmp"}) {
        ASSERT_EQ(symlink((dir + "/victim").c_str(), planted.c_str()), 0);
    }
    JsonResults results(path, "sortbench", 1, ReadMachineFacts());
    results.Add("INT", "CPU Standard", 10, {1});
    ASSERT_TRUE(results.Write());
    EXPECT_EQ(Slurp(dir + "/victim"), "precious");
    EXPECT_EQ(Slurp(path), results.Text());
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(DirectoryEntries().size(), 5u) << "no temporary file left beside the links";
}

TEST_F(JsonResultsTest, an_interruption_before_the_first_cell_keeps_an_earlier_file) {
    const std::string path = dir + "/r.json";
    std::ofstream(path) << "an earlier run's results";
    {
        JsonResults results(path, "sortbench", 1, ReadMachineFacts());
        EXPECT_FALSE(results.HasEntries());
        JsonResults::WriteFromSignalHandler();
        EXPECT_EQ(Slurp(path), "an earlier run's results");
    }
}

TEST_F(JsonResultsTest, bytes_that_are_not_utf8_become_replacement_characters) {
    const std::string path = dir + "/r.json";
    JsonResults results(path,
                        "/opt/\xff\xc3(\xe2\x82/sort\xc3\xa9"
                        "bench\xed\xa0\x80",
                        1, ReadMachineFacts());
    results.Add("INT", "CPU Standard", 10, {1});
    ASSERT_TRUE(results.Write());
    int status = 0;
    const std::string executable = RunCommand(std::string(kPython) +
                                                  "-c \"import json,sys; print(ascii(json.loads(open(sys.argv[1], "
                                                  "'rb').read().decode('utf-8'))['context']['executable']))\" " +
                                                  path,
                                              status);
    EXPECT_EQ(status, 0) << executable;
    EXPECT_EQ(executable, "'/opt/\\ufffd\\ufffd(\\ufffd\\ufffd/sort\\xe9bench\\ufffd\\ufffd\\ufffd'\n");
}

TEST_F(JsonResultsTest, google_benchmark_compare_reads_two_runs) {
    if (access(kComparePy, R_OK) != 0) GTEST_SKIP() << kComparePy << " missing (Debian package libbenchmark-tools)";
    const std::vector<double> times{100, 102, 98, 101, 99};
    const auto write = [&](const std::string& name, double slowdown) {
        JsonResults results(dir + "/" + name, "sortbench", times.size(), ReadMachineFacts());
        std::vector<double> slower;
        for (double t : times) slower.push_back(t * slowdown);
        results.Add("INT", "CPU 1 Thread", 1000000, times);
        results.Add("INT", "CPU 2 Thread", 1000000, slower);
        ASSERT_TRUE(results.Write());
    };
    write("A.json", 1.0);
    write("B.json", 1.2);
    int status = 0;
    const std::string output = RunCommand(
        kPython + std::string(kComparePy) + " --no-color benchmarks " + dir + "/A.json " + dir + "/B.json", status);
    EXPECT_EQ(status, 0) << output;
    // The line of a benchmark: its name, then the relative changes of time and CPU.
    const auto line = [&](const std::string& name) {
        const std::size_t start = output.find("\n" + name + " ");
        return start == std::string::npos ? std::string()
                                          : output.substr(start + 1, output.find('\n', start + 1) - start - 1);
    };
    EXPECT_NE(line("INT/CPU 1 Thread/1000000_median").find("+0.0000"), std::string::npos) << output;
    EXPECT_NE(line("INT/CPU 2 Thread/1000000_median").find("+0.2000"), std::string::npos) << output;
}
