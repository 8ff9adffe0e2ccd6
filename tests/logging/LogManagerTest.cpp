#include "logging/LogManager.h"

#include <cerrno>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "logging/SignalSafeTrim.h"
#include "tests/support/TempDirectory.h"

using TestSupport::ReadWholeFile;
using TestSupport::TempDirectory;
using TestSupport::WriteWholeFile;

namespace {

std::string CaptureOutput(const std::function<void()>& action) {
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

// A manager opened on dir/name with `mode`, its console line swallowed.
void Open(LogManager& log, const TempDirectory& dir, const std::string& name, char mode = 'w') {
    std::string out = CaptureOutput([&] { ASSERT_TRUE(log.Init(dir.Path().string(), name, mode)); });
    ASSERT_EQ(out, "Initialized Log File: " + dir.File(name) + "\n");
}

}  // namespace

TEST(LogManagerInit, mode_w_truncates_and_first_append_grows_to_the_step) {
    TempDirectory dir;
    WriteWholeFile(dir.File("log.txt"), std::string(5000, 'o'));
    const std::string text(90, 't');
    {
        LogManager log;
        Open(log, dir, "log.txt");
        EXPECT_EQ(std::filesystem::file_size(dir.File("log.txt")), 1u);
        log += text;
        EXPECT_EQ(std::filesystem::file_size(dir.File("log.txt")), 1024u);
        EXPECT_EQ(ReadWholeFile(dir.File("log.txt")), text + std::string(1024 - 90, '\0'));
        EXPECT_EQ(log.GetLogString(), text);
    }
    EXPECT_EQ(ReadWholeFile(dir.File("log.txt")), text);
}

TEST(LogManagerInit, large_append_grows_by_its_own_length) {
    TempDirectory dir;
    LogManager log;
    Open(log, dir, "big.txt");
    log += std::string(900, 'a');
    log += std::string(5000, 'b');
    EXPECT_EQ(log.FileSize(), 5900u);
    EXPECT_EQ(log.WritePos(), 5900u);
    log += "c";
    EXPECT_EQ(log.FileSize(), 5901u + 1023u);
}

TEST(LogManagerInit, directory_given_with_or_without_separator) {
    TempDirectory dir;
    LogManager a;
    LogManager b;
    CaptureOutput([&] {
        a.Init(dir.Path().string() + "/", "a.txt", 'w');
        b.Init(dir.Path().string(), "b.txt", 'w');
    });
    EXPECT_EQ(a.FilePath(), dir.File("a.txt"));
    EXPECT_EQ(b.FilePath(), dir.File("b.txt"));
}

TEST(LogManagerInit, mode_a_resumes_after_zero_padding) {
    TempDirectory dir;
    WriteWholeFile(dir.File("resume"), std::string("abc\0\0\0\0", 7));
    {
        LogManager log;
        Open(log, dir, "resume", 'a');
        EXPECT_EQ(log.WritePos(), 3u);
        log += "def";
    }
    EXPECT_EQ(ReadWholeFile(dir.File("resume")), "abcdef");
}

TEST(LogManagerInit, mode_a_creates_missing_and_empty_files) {
    TempDirectory dir;
    WriteWholeFile(dir.File("empty"), "");
    for (const char* name : {"missing", "empty"}) {
        {
            LogManager log;
            const std::string out = CaptureOutput([&] { EXPECT_TRUE(log.Init(dir.Path().string(), name, 'a')); });
            EXPECT_NE(out.find("Initialized Log File: " + dir.File(name) + "\n"), std::string::npos) << out;
            log += "new";
        }
        EXPECT_EQ(ReadWholeFile(dir.File(name)), "new");
    }
}

TEST(LogManagerInit, invalid_mode_is_refused_and_text_stays_pending) {
    TempDirectory dir;
    LogManager log;
    const std::string out = CaptureOutput([&] { EXPECT_FALSE(log.Init(dir.Path().string(), "x.txt", 'x')); });
    EXPECT_EQ(out, "Failed to initialize Log File. Invalid mode: x\n");
    log += "kept";
    EXPECT_EQ(log.PendingText(), "kept");
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.txt")));
}

TEST(LogManagerInit, invalid_mode_after_a_file_stops_writing_to_the_old_file) {
    TempDirectory dir;
    LogManager log;
    Open(log, dir, "old.txt");
    log += "old";
    CaptureOutput([&] { EXPECT_FALSE(log.Init(dir.Path().string(), "new.txt", 'q')); });
    log += "later";
    EXPECT_EQ(log.PendingText(), "later");
    EXPECT_EQ(ReadWholeFile(dir.File("old.txt")).substr(0, 3), "old");
    EXPECT_EQ(ReadWholeFile(dir.File("old.txt")).find("later"), std::string::npos);
}

TEST(LogManagerInit, failed_init_writes_nothing_and_creates_nothing) {
    TempDirectory dir;
    const std::string missingDir = dir.File("no/such/dir");
    {
        LogManager log;
        testing::internal::CaptureStderr();
        const std::string out = CaptureOutput([&] { EXPECT_FALSE(log.Init(missingDir, "f.csv", 'w')); });
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(out, "Failed to initialize Log File: " + missingDir + "/f.csv\n");
        EXPECT_EQ(log.FilePath(), "");
        log += "text";
        log << "line";
        EXPECT_EQ(log.GetLogString(), "");
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(LogManagerInit, a_file_another_manager_holds_is_refused_by_any_path) {
    TempDirectory dir;
    LogManager first;
    Open(first, dir, "bench.csv");
    first += "header\nrow";
    std::filesystem::create_symlink("bench.csv", dir.File("link.csv"));
    std::filesystem::create_hard_link(dir.File("bench.csv"), dir.File("hard.csv"));
    for (const char* name : {"bench.csv", "link.csv", "hard.csv"}) {
        for (const char mode : {'w', 'a'}) {
            LogManager second;
            const std::string out = CaptureOutput([&] { EXPECT_FALSE(second.Init(dir.Path().string(), name, mode)); });
            EXPECT_EQ(out, "Failed to initialize Log File: " + dir.File(name) + "\n");
            second += "overwritten";
        }
    }
    first.Close();
    EXPECT_EQ(ReadWholeFile(dir.File("bench.csv")), "header\nrow");
    // Once closed, the file is free for the next writer.
    LogManager next;
    Open(next, dir, "bench.csv", 'a');
}

TEST(LogManagerInit, a_new_file_is_never_made_through_a_link_nor_over_a_name_in_mode_n) {
    TempDirectory dir;
    WriteWholeFile(dir.File("victim"), "kept");
    std::filesystem::create_symlink(dir.File("victim"), dir.File("link"));
    std::filesystem::create_symlink(dir.File("nowhere"), dir.File("dangling"));
    const struct {
        const char* name;
        char mode;
    } cases[] = {{"link", 'w'}, {"link", 'n'}, {"dangling", 'w'}, {"dangling", 'n'}, {"victim", 'n'}};
    for (const auto& c : cases) {
        LogManager log;
        testing::internal::CaptureStderr();
        const std::string out = CaptureOutput([&] { EXPECT_FALSE(log.Init(dir.Path().string(), c.name, c.mode)); });
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(out, "Failed to initialize Log File: " + dir.File(c.name) + "\n");
    }
    EXPECT_EQ(ReadWholeFile(dir.File("victim")), "kept");
    EXPECT_FALSE(std::filesystem::exists(dir.File("nowhere")));
    LogManager fresh;
    Open(fresh, dir, "fresh", 'n');
}

TEST(LogManagerInit, empty_directory_or_name_succeeds_without_effect) {
    LogManager log;
    const std::string out = CaptureOutput([&] {
        EXPECT_TRUE(log.Init("", "name", 'w'));
        EXPECT_TRUE(log.Init("/tmp", "", 'x'));
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(log.FilePath(), "");
}

TEST(LogManagerClose, closing_without_text_leaves_one_zero_byte) {
    TempDirectory dir;
    LogManager log;
    Open(log, dir, "none");
    log.Close();
    EXPECT_EQ(ReadWholeFile(dir.File("none")), std::string(1, '\0'));
}

TEST(LogManagerClose, text_after_close_stays_pending) {
    TempDirectory dir;
    LogManager log;
    Open(log, dir, "closed");
    log += "before";
    log.Close();
    log += "after";
    EXPECT_EQ(log.PendingText(), "after");
    EXPECT_EQ(ReadWholeFile(dir.File("closed")), "before");
}

TEST(LogManagerText, stamped_and_indented_lines) {
    TempDirectory dir;
    LogManager log;
    Open(log, dir, "lines");
    log << "message";
    log <<= "detail";
    log.textStream << "streamed " << 42;
    log += "|";
    const std::string text = log.GetLogString();
    const std::regex shape(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] message\n {22}detail\nstreamed 42\|)");
    EXPECT_TRUE(std::regex_match(text, shape)) << text;
    EXPECT_EQ(log.PendingText(), "");
}

TEST(LogManagerText, time_stamps_have_their_formats) {
    EXPECT_TRUE(std::regex_match(LogManager::TimeStamp(), std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
    EXPECT_TRUE(std::regex_match(LogManager::FileTimeStamp(), std::regex(R"(\d{12})")));
}

TEST(LogManagerText, dividers) {
    EXPECT_EQ(LogManager::HeaderDivider("GPU", 20, '-'), "------- GPU --------");
    EXPECT_EQ(LogManager::HeaderDivider("GPU", 7, '-'), "- GPU -");
    EXPECT_EQ(LogManager::HeaderDivider("GPU", 8, '='), "= GPU ==");
    EXPECT_EQ(LogManager::HeaderDivider("GPU", 9, '='), "== GPU ==");
    EXPECT_EQ(LogManager::Divider(4, '*'), "****");
    EXPECT_EQ(LogManager::Divider(0, '*'), "");
}

// Re-executed in a fresh process so that no earlier test has numbered a thread.
TEST(LogManagerThreadsDeathTest, thread_numbers_follow_first_use) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDirectory dir;
    const std::string path = dir.File("threads");
    EXPECT_EXIT(
        {
            LogManager::TShowThread = true;
            {
                LogManager log;
                log.Init(dir.Path().string(), "threads", 'w');
                log << "main";
                std::thread([&] { log <<= "worker"; }).join();
                log << "main again";
            }
            const std::string text = ReadWholeFile(path);
            const std::regex shape(R"(\(0\)\[[^\]]+\] main\n\(1\) {22}worker\n\(0\)\[[^\]]+\] main again\n)");
            const bool numbered = std::regex_match(text, shape);
            std::filesystem::remove_all(dir.Path());  // _exit skips the destructor
            _exit(numbered ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(LogManagerThreads, managers_shared_by_threads_keep_every_line_whole) {
    TempDirectory dir;
    LogManager::TShowThread = true;
    constexpr int kThreads = 6;
    constexpr int kLines = 150;
    {
        LogManager first;
        LogManager second;
        Open(first, dir, "first");
        Open(second, dir, "second");
        std::vector<std::thread> workers;
        for (int t = 0; t < kThreads; ++t) {
            workers.emplace_back([&, t] {
                for (int i = 0; i < kLines; ++i) {
                    LogManager& log = (i + t) % 2 ? first : second;
                    std::ostringstream line;
                    line << 't' << t << " line " << i;
                    log << line.str();
                }
            });
        }
        for (std::thread& worker : workers) worker.join();
    }
    LogManager::TShowThread = false;
    const std::regex line(R"(\((\d+)\)\[[^\]]+\] t(\d) line (\d+))");
    std::vector<std::vector<bool>> seen(kThreads, std::vector<bool>(kLines, false));
    std::vector<std::string> numberOf(kThreads);
    for (const char* name : {"first", "second"}) {
        std::istringstream text(ReadWholeFile(dir.File(name)));
        for (std::string row; std::getline(text, row);) {
            std::smatch match;
            ASSERT_TRUE(std::regex_match(row, match, line)) << row;
            const int t = std::stoi(match[2]);
            const int i = std::stoi(match[3]);
            EXPECT_FALSE(seen[t][i]);
            seen[t][i] = true;
            if (numberOf[t].empty()) numberOf[t] = match[1];
            EXPECT_EQ(numberOf[t], match[1]) << "thread numbers are stable per thread";
        }
    }
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kLines; ++i) EXPECT_TRUE(seen[t][i]) << t << "/" << i;
        for (int u = 0; u < t; ++u) EXPECT_NE(numberOf[t], numberOf[u]);
    }
}

TEST(LogManagerFullDisk, refused_appends_stay_pending_and_what_fitted_is_intact) {
    TestSupport::TinyFilesystem fs(64 * 1024);
    if (!fs.Mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    // Most of the room goes to a filler the test can later delete.
    WriteWholeFile(fs.File("filler"), std::string(48 * 1024, 'f'));
    const std::string chunk = std::string(999, 'x') + "\n";
    std::string written;
    LogManager log;
    const std::string dir = fs.Path().string();
    CaptureOutput([&] { ASSERT_TRUE(log.Init(dir, "cells.csv", 'w')); });
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    for (int i = 0; i < 40; ++i) log += chunk;
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    // The writer of the cells says so in a line of its own: no raw engine lines beside it.
    EXPECT_EQ(out + err, "");
    EXPECT_EQ(log.LastError(), ENOSPC);

    const unsigned long kept = log.WritePos();
    EXPECT_GT(kept, 0u);
    EXPECT_LT(kept, 40u * chunk.size());
    EXPECT_EQ(kept + log.PendingText().size(), 40u * chunk.size());
    for (unsigned long i = 0; i < kept / chunk.size(); ++i) written += chunk;
    EXPECT_EQ(log.GetLogString(), written);

    // With room again, the next append writes everything that waited, in order.
    std::filesystem::remove(fs.File("filler"));
    log += "end";
    EXPECT_EQ(log.PendingText(), "");
    log.Close();
    std::string expected;
    for (int i = 0; i < 40; ++i) expected += chunk;
    EXPECT_EQ(ReadWholeFile(fs.File("cells.csv")), expected + "end");
}

TEST(LogManagerFullDisk, close_on_a_full_disk_trims_to_the_text_that_fitted) {
    TestSupport::TinyFilesystem fs(16 * 1024);
    if (!fs.Mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    const std::string dir = fs.Path().string();
    testing::internal::CaptureStderr();
    {
        LogManager log;
        CaptureOutput([&] { ASSERT_TRUE(log.Init(dir, "full.csv", 'w')); });
        for (int i = 0; i < 40; ++i) log += std::string(1000, 'a' + i % 26);
    }
    testing::internal::GetCapturedStderr();
    const std::string text = ReadWholeFile(fs.File("full.csv"));
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text.size() % 1000, 0u);
    for (size_t i = 0; i < text.size(); ++i) ASSERT_EQ(text[i], 'a' + static_cast<int>(i / 1000) % 26) << i;
}

TEST(LogManagerSignalTrim, trim_all_cuts_open_files_to_their_text_and_forgets_closed_ones) {
    TempDirectory dir;
    LogManager open;
    Open(open, dir, "open.txt");
    open += "kept text";
    ASSERT_EQ(open.FileSize(), 1024u);
    {
        LogManager closed;
        Open(closed, dir, "closed.txt");
        closed += "closed";
    }
    WriteWholeFile(dir.File("closed.txt"), std::string(100, 'x'));
    SignalSafeTrim::TrimAll();
    EXPECT_EQ(ReadWholeFile(dir.File("open.txt")), "kept text");
    EXPECT_EQ(ReadWholeFile(dir.File("closed.txt")), std::string(100, 'x'));
}
