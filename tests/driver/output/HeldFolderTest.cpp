#include "driver/output/HeldFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "driver/output/ReplacedFile.h"
#include "driver/output/RunDirectory.h"
#include "logging/LogManager.h"
#include "tests/driver/CapturedRun.h"
#include "tests/support/TempDirectory.h"

namespace {

using TestSupport::TempDirectory;

// The uid and gid of `nobody` on Debian; tests that use them need root.
constexpr uid_t kNobody = 65534;

// `path`'s permission bits, not following a link.
mode_t ModeOf(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

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

TEST(HeldFolder, nothing_is_made_beyond_a_link_the_owner_rule_refuses) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a link to another user";
    const TempDirectory dir;
    std::filesystem::create_directories(dir.File("sticky"));
    std::filesystem::create_directories(dir.File("rootonly"));
    ASSERT_EQ(chmod(dir.File("sticky").c_str(), 01777), 0);
    ASSERT_EQ(chmod(dir.File("rootonly").c_str(), 0700), 0);
    std::filesystem::create_directory_symlink(dir.File("rootonly"), dir.File("sticky/evil"));
    ASSERT_EQ(lchown(dir.File("sticky/evil").c_str(), kNobody, kNobody), 0);
    for (const char* logs : {"sticky/evil/n1/n2/", "sticky/evil/"}) {
        SCOPED_TRACE(logs);
        const RunPlan plan = TestSupport::PlanFor({"-O", dir.File(logs).c_str(), "-MIN"}, "/nonexistent/");
        testing::internal::CaptureStderr();
        const TestSupport::CapturedRun run = TestSupport::RunCaptured(plan);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(run.status, kExitBadOption);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(err, "Failed to create directory: " + dir.File(logs) + ": a symbolic link owned by another user\n");
        EXPECT_TRUE(std::filesystem::is_empty(dir.File("rootonly")));
    }
}

TEST(HeldFolder, folders_made_for_a_failed_run_are_removed_through_the_folders_held) {
    const TempDirectory dir;
    {
        CreatedDirectories made;
        std::string problem;
        ASSERT_TRUE(HeldFolder::Make(dir.File("a/b/c"), true, made, problem)) << problem;
        // Swapped after the making: removal by path would take the impostor.
        std::filesystem::rename(dir.File("a"), dir.File("moved"));
        std::filesystem::create_directory(dir.File("a"));
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("moved")));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("a")));
}

TEST(HeldFolder, under_umask_0_no_folder_or_file_of_a_run_is_writable_by_others) {
    const TempDirectory dir;
    setenv("SORTBENCH_QUICK_LIMITS", "1", 1);
    const mode_t previous = umask(0);
    const RunPlan plan = TestSupport::PlanFor({"-O", dir.File("new/logs").c_str(), "-MIN", "-R", "2"}, "/nonexistent/");
    const TestSupport::CapturedRun run = TestSupport::RunCaptured(plan);
    umask(previous);
    ASSERT_EQ(run.status, kExitComplete) << run.out;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.File("new"))) {
        const bool folder = entry.is_directory();
        files += folder ? 0 : 1;
        EXPECT_EQ(ModeOf(entry.path().string()), folder ? 0755u : 0644u) << entry.path();
    }
    EXPECT_EQ(files, 15u) << "result, stats and speed-up files, run_conditions.txt, run.json, run.lock";
}

TEST(HeldFolder, a_file_with_a_second_link_is_never_trimmed_nor_another_users_one_replaced) {
    const TempDirectory dir;
    const std::string padded = std::string("row") + std::string(100, '\0');
    const std::string run = dir.File("logs/cpu_261207081500/");
    std::filesystem::create_directories(run);
    TestSupport::WriteWholeFile(run + kRunLockFileName, "");
    const struct {
        const char* name;
        uid_t owner;  // of the file the planted link shares
    } cases[] = {{"ours", geteuid()}, {"theirs", kNobody}};
    for (const auto& c : cases) {
        if (c.owner == kNobody && geteuid() != 0) continue;
        SCOPED_TRACE(c.name);
        const std::string victim = dir.File(c.name);
        TestSupport::WriteWholeFile(victim, padded);
        ASSERT_EQ(chown(victim.c_str(), c.owner, c.owner), 0);
        std::filesystem::create_hard_link(victim, run + "bench_INT.csv");
        EXPECT_TRUE(RepairInterruptedRuns(dir.File("logs")).empty());
        EXPECT_EQ(TestSupport::ReadWholeFile(victim), padded);
        std::filesystem::remove(run + "bench_INT.csv");

        const std::string json = dir.File("linked.json");
        std::filesystem::create_hard_link(victim, json);
        testing::internal::CaptureStderr();
        const bool claimed = ReplacedFile::Claim(json).has_value();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(claimed, c.owner != kNobody) << err;
        if (!claimed) EXPECT_EQ(err, "Cannot write " + json + ": a hard link to a file owned by another user\n");
        std::filesystem::remove(json);
    }
}

}  // namespace
