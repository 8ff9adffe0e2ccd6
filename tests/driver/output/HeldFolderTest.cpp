#include "driver/output/HeldFolder.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "driver/output/ReplacedFile.h"
#include "driver/output/RunDirectory.h"
#include "logging/LogManager.h"
#include "tests/support/TempDirectory.h"

namespace {

using TestSupport::TempDirectory;

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(HeldFolder, a_run_directory_swapped_for_a_link_mid_run_still_gets_every_file) {
    const TempDirectory dir;
    std::filesystem::create_directories(dir.File("logs"));
    std::filesystem::create_directories(dir.File("elsewhere"));
    RunDirectory run;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(run.Claim(dir.File("logs/cpu_261208000000/")));
    // What another user who owns the log folder could do while the run measures.
    std::filesystem::rename(dir.File("logs/cpu_261208000000"), dir.File("logs/moved"));
    std::filesystem::create_directory_symlink(dir.File("elsewhere"), dir.File("logs/cpu_261208000000"));

    LogManager results;
    ASSERT_TRUE(results.Init(run.Path(), "bench_INT.csv", 'w', run.ReachedPath()));
    results += "NbRecords\n";
    results.Close();
    ASSERT_TRUE(ReplacedFile(run.Folder(), "run.json", run.Path() + "run.json").Replace("{}\n"));
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(out, "Initialized Log File: " + run.Path() + "bench_INT.csv\n") << "messages name the path as given";
    EXPECT_EQ(Slurp(dir.File("logs/moved/bench_INT.csv")), "NbRecords\n");
    EXPECT_EQ(Slurp(dir.File("logs/moved/run.json")), "{}\n");
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("elsewhere")));
}

TEST(HeldFolder, links_are_followed_only_when_the_user_or_root_owns_them) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a link to another user";
    const TempDirectory dir;
    std::filesystem::create_directories(dir.File("target"));
    std::filesystem::create_directory_symlink(dir.File("target"), dir.File("ours"));
    std::filesystem::create_directory_symlink(dir.File("target"), dir.File("theirs"));
    ASSERT_EQ(lchown(dir.File("theirs").c_str(), 65534, 65534), 0);
    const struct {
        std::string path;
        bool folder;
        const char* problem;  // empty: resolved
    } cases[] = {
        {dir.File("ours"), true, ""},
        {dir.File("ours/run.json"), false, ""},
        {dir.File("theirs"), true, "a symbolic link owned by another user"},
        {dir.File("theirs/run.json"), false, "a symbolic link owned by another user"},
    };
    for (const auto& c : cases) {
        std::string problem;
        const bool resolved =
            c.folder ? HeldFolder::Open(c.path, problem).has_value() : ResolveFilePath(c.path, problem).has_value();
        EXPECT_EQ(resolved, *c.problem == '\0') << c.path;
        EXPECT_EQ(problem, c.problem) << c.path;
    }
}

}  // namespace
