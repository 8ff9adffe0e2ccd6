#include "support/FileEngine.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "support/AccessType.h"
#include "tests/support/TempDirectory.h"

using AppCore::FileEngine;
using TestSupport::ReadWholeFile;
using TestSupport::TempDirectory;
using TestSupport::WriteWholeFile;

namespace {

std::string Bytes(const unsigned char* data, unsigned long length) {
    return std::string(reinterpret_cast<const char*>(data), length);
}

std::string CaptureOutput(const std::function<void()>& action) {
    testing::internal::CaptureStdout();
    action();
    return testing::internal::GetCapturedStdout();
}

class BothBackends : public testing::TestWithParam<bool> {
protected:
    TempDirectory dir;
    FileEngine engine{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(FileEngine, BothBackends, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("MemoryMapped") : std::string("Buffered");
                         });

}  // namespace

TEST(AccessType, accepts_exactly_r_and_w) {
    EXPECT_TRUE(AppCore::IsValidAccessType("r"));
    EXPECT_TRUE(AppCore::IsValidAccessType("w"));
    for (const char* bad : {"", "R", "rw", "w+"}) {
        const std::string out = CaptureOutput([&] { EXPECT_FALSE(AppCore::IsValidAccessType(bad)); });
        EXPECT_EQ(out, std::string("Requested file access, \"") + bad + "\" not valid. Valid options: \"r\", \"w\"");
    }
}

TEST_P(BothBackends, invalid_access_leaves_open_file_open) {
    WriteWholeFile(dir.File("a.txt"), "hello");
    ASSERT_TRUE(engine.OpenFile(dir.File("a.txt"), "r"));
    for (const char* bad : {"x", "rw"}) {
        CaptureOutput([&] { EXPECT_FALSE(engine.OpenFile(dir.File("a.txt"), bad)); });
        CaptureOutput([&] { EXPECT_FALSE(engine.ChangeAccess(bad)); });
    }
    ASSERT_NE(engine.data, nullptr);
    EXPECT_EQ(Bytes(engine.data, 5), "hello");
    EXPECT_EQ(engine.FileSize(), 5u);
}

TEST_P(BothBackends, skips_byte_order_marks_by_file_size) {
    struct Case {
        std::string content;
        unsigned long skipped;
    };
    const Case cases[] = {
        {std::string("\xEF\xBB\xBF"
                     "AB",
                     5),
         3},
        {std::string("\xFE\xFF"
                     "AB",
                     4),
         2},
        {std::string("\xFF\xFE\0\0"
                     "AB",
                     6),
         4},
        {std::string("\xFF\xFE\0\0"
                     "A",
                     5),
         2},
        {std::string("\xFF\xFE\0\0", 4), 2},
        {std::string("\0\0\xFE\xFF"
                     "A",
                     5),
         4},
        {std::string("\xEF\xBB", 2), 0},
        {std::string("plain", 5), 0},
    };
    for (const Case& c : cases) {
        WriteWholeFile(dir.File("bom"), c.content);
        ASSERT_TRUE(engine.OpenFile(dir.File("bom"), "r"));
        EXPECT_EQ(engine.FileSize(), c.content.size() - c.skipped) << testing::PrintToString(c.content);
        EXPECT_EQ(Bytes(engine.data, engine.FileSize()), c.content.substr(c.skipped));
        const unsigned long viewLength = GetParam() ? engine.mmFile.viewLength : engine.basicFile.viewLength;
        EXPECT_EQ(viewLength, c.content.size());
    }
}

TEST_P(BothBackends, new_file_has_at_least_one_byte_and_resize_to_zero_recreates_it) {
    const std::string path = dir.File("new.bin");
    ASSERT_TRUE(engine.NewFile(path, 0));
    ASSERT_TRUE(engine.FlushView());
    EXPECT_EQ(std::filesystem::file_size(path), 1u);

    ASSERT_TRUE(engine.ResizeFile(10));
    std::memcpy(engine.data, "0123456789", 10);
    ASSERT_TRUE(engine.FlushView());
    ASSERT_TRUE(engine.ResizeFile(0));
    ASSERT_TRUE(engine.FlushView());
    EXPECT_EQ(ReadWholeFile(path), std::string(1, '\0'));
    EXPECT_EQ(engine.FileSize(), 1u);
}

TEST_P(BothBackends, read_access_refuses_writes_silently) {
    WriteWholeFile(dir.File("ro"), "data");
    ASSERT_TRUE(engine.OpenFile(dir.File("ro"), "r"));
    const unsigned char byte = 'x';
    const std::string out = CaptureOutput([&] {
        EXPECT_FALSE(engine.ResizeFile(100));
        EXPECT_FALSE(engine.WriteToDisk(&byte, 0, 1));
        EXPECT_FALSE(engine.FlushView());
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(ReadWholeFile(dir.File("ro")), "data");
}

TEST_P(BothBackends, growing_keeps_content_and_zero_fills) {
    const std::string path = dir.File("grow.bin");
    ASSERT_TRUE(engine.NewFile(path, 3));
    std::memcpy(engine.data, "abc", 3);
    ASSERT_TRUE(engine.ResizeFile(1 << 20));
    ASSERT_NE(engine.data, nullptr);
    ASSERT_TRUE(engine.FlushView());
    const std::string content = ReadWholeFile(path);
    ASSERT_EQ(content.size(), 1u << 20);
    EXPECT_EQ(content.substr(0, 3), "abc");
    EXPECT_EQ(content.find_first_not_of('\0', 3), std::string::npos);
    EXPECT_EQ(Bytes(engine.data, 3), "abc");

    ASSERT_TRUE(engine.ResizeFile(2));
    ASSERT_TRUE(engine.FlushView());
    EXPECT_EQ(ReadWholeFile(path), "ab");
}

TEST_P(BothBackends, write_to_disk_sets_the_size_to_offset_plus_length) {
    const std::string path = dir.File("w.bin");
    WriteWholeFile(path, "0123456789");
    ASSERT_TRUE(engine.OpenFile(path, "w"));
    const auto* bytes = reinterpret_cast<const unsigned char*>("XY");
    ASSERT_TRUE(engine.WriteToDisk(bytes, 12, 2));
    std::string expected("0123456789\0\0XY", 14);
    EXPECT_EQ(ReadWholeFile(path), expected);
    ASSERT_TRUE(engine.WriteToDisk(bytes, 2, 2));
    if (GetParam()) {
        EXPECT_EQ(ReadWholeFile(path), "01XY");  // the mapped backend cuts a longer file
    } else {
        expected.replace(2, 2, "XY");
        EXPECT_EQ(ReadWholeFile(path), expected);
    }
}

TEST_P(BothBackends, change_access_reopens_whole_file) {
    const std::string path = dir.File("ca");
    WriteWholeFile(path, "content");
    ASSERT_TRUE(engine.OpenFile(path, "r"));
    ASSERT_TRUE(engine.ChangeAccess("w"));
    ASSERT_NE(engine.data, nullptr);
    engine.data[0] = 'C';
    ASSERT_TRUE(engine.FlushView());
    EXPECT_EQ(ReadWholeFile(path), "Content");
}

TEST_P(BothBackends, clear_all_nulls_data_and_closes) {
    WriteWholeFile(dir.File("c"), "x");
    ASSERT_TRUE(engine.OpenFile(dir.File("c"), "w"));
    engine.ClearAll();
    EXPECT_EQ(engine.data, nullptr);
    EXPECT_EQ(engine.FileSize(), 0u);
    EXPECT_FALSE(engine.FlushView());
}

TEST_P(BothBackends, missing_file_fails_closed) {
    testing::internal::CaptureStderr();
    const std::string out = CaptureOutput([&] { EXPECT_FALSE(engine.OpenFile(dir.File("missing"), "r")); });
    const std::string err = testing::internal::GetCapturedStderr();
    if (GetParam()) {
        EXPECT_NE(err.find("MMFile - CreateFile failed with error: No such file"), std::string::npos) << err;
    } else {
        EXPECT_NE(out.find("BasicFile - Error opening file " + dir.File("missing") + " with error no: 2\n"),
                  std::string::npos)
            << out;
    }
    EXPECT_EQ(engine.data, nullptr);
}

TEST_P(BothBackends, new_file_never_follows_a_link_and_exclusive_refuses_any_name) {
    WriteWholeFile(dir.File("victim"), "kept");
    std::filesystem::create_symlink(dir.File("victim"), dir.File("link"));
    std::filesystem::create_symlink(dir.File("nowhere"), dir.File("dangling"));
    const struct {
        const char* name;
        bool exclusive;
    } cases[] = {{"link", false}, {"link", true}, {"dangling", true}, {"victim", true}};
    for (const auto& c : cases) {
        testing::internal::CaptureStderr();
        CaptureOutput([&] { EXPECT_FALSE(engine.NewFile(dir.File(c.name), 1, c.exclusive)) << c.name; });
        testing::internal::GetCapturedStderr();
    }
    EXPECT_EQ(ReadWholeFile(dir.File("victim")), "kept");
    EXPECT_FALSE(std::filesystem::exists(dir.File("nowhere")));
}

TEST(MMFile, empty_file_fails_to_open_and_stays_closed) {
    TempDirectory dir;
    WriteWholeFile(dir.File("empty"), "");
    AppCore::MMFile file;
    const std::string out = CaptureOutput([&] { EXPECT_FALSE(file.OpenFile(dir.File("empty"), "r")); });
    EXPECT_EQ(out, "MMFile - File is empty: " + dir.File("empty") + "\n");
    EXPECT_EQ(file.fileDescriptor, -1);
    EXPECT_EQ(file.view, nullptr);
    EXPECT_TRUE(file.path.empty());
}

TEST(FileFailureLines, escape_terminal_controls_in_paths_and_access_texts) {
    TempDirectory dir;
    const std::string clear = "a\x1b[2Jb";  // would clear the screen
    WriteWholeFile(dir.File(clear), "");
    const std::string title = "m\x1b]0;t\x07";  // would retitle the terminal
    const struct {
        std::function<void()> fail;
        std::string line;
    } cases[] = {
        {[&] { AppCore::MMFile().OpenFile(dir.File(clear), "r"); },
         "MMFile - File is empty: " + dir.File("a\\x1b[2Jb") + "\n"},
        {[&] { AppCore::BasicFile().OpenFile(dir.File(title), "r"); },
         "BasicFile - Error opening file " + dir.File("m\\x1b]0;t\\x07") + " with error no: 2\n"},
        {[] { AppCore::IsValidAccessType("\x1b[31m"); },
         "Requested file access, \"\\x1b[31m\" not valid. Valid options: \"r\", \"w\""},
    };
    for (const auto& c : cases) EXPECT_EQ(CaptureOutput(c.fail), c.line);
}

TEST(BasicFile, empty_file_opens_with_empty_view) {
    TempDirectory dir;
    WriteWholeFile(dir.File("empty"), "");
    AppCore::BasicFile file;
    EXPECT_TRUE(file.OpenFile(dir.File("empty"), "r"));
    EXPECT_EQ(file.fileSize, 0u);
    EXPECT_EQ(file.viewLength, 0u);
}

TEST(MMFile, view_off_a_page_boundary_maps_from_the_boundary_below) {
    TempDirectory dir;
    const std::string path = dir.File("pages");
    std::string content(3 * 4096 + 100, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 26);
    WriteWholeFile(path, content);
    AppCore::MMFile file;
    ASSERT_TRUE(file.OpenFile(path, "r"));
    const unsigned long page = file.pageSize;
    const unsigned long start = page + 10;
    ASSERT_TRUE(file.SetView(start, 50));
    EXPECT_EQ(file.mapOffset, page);
    EXPECT_EQ(file.mapDelta, 10u);
    EXPECT_EQ(file.view, file.mapAddress + 10);
    EXPECT_EQ(file.viewLength, 50u);
    EXPECT_EQ(Bytes(file.view, 50), content.substr(start, 50));

    ASSERT_TRUE(file.SetView(start, 1 << 20));
    EXPECT_EQ(file.viewLength, content.size() - start);
    EXPECT_EQ(Bytes(file.view, file.viewLength), content.substr(start));
}

TEST(MMFile, resize_of_a_view_at_an_offset_views_the_whole_file) {
    TempDirectory dir;
    const std::string path = dir.File("off");
    WriteWholeFile(path, std::string(10000, 'q'));
    FileEngine engine(true);
    ASSERT_TRUE(engine.OpenFile(path, "w"));
    ASSERT_TRUE(engine.SetView(5000, 100));
    ASSERT_TRUE(engine.ResizeFile(12000));
    EXPECT_EQ(engine.mmFile.viewStart, 0u);
    EXPECT_EQ(engine.mmFile.viewLength, 12000u);
    EXPECT_EQ(engine.data[9999], 'q');
    EXPECT_EQ(engine.data[11999], '\0');
}

TEST(MMFile, new_files_are_created_without_execute_bits) {
    TempDirectory dir;
    const mode_t previous = umask(0);
    FileEngine engine(true);
    const bool created = engine.NewFile(dir.File("data.csv"), 1);
    umask(previous);
    ASSERT_TRUE(created);
    struct stat status {};
    ASSERT_EQ(stat(dir.File("data.csv").c_str(), &status), 0);
    // Nor writable by others: the umask cannot make them so.
    EXPECT_EQ(status.st_mode & 0777, 0644u);
}

TEST(MMFile, grown_mapping_follows_into_engine_data) {
    TempDirectory dir;
    FileEngine engine(true);
    ASSERT_TRUE(engine.NewFile(dir.File("move"), 1));
    engine.data[0] = 'z';
    // Large enough that the kernel usually has to move the mapping.
    ASSERT_TRUE(engine.ResizeFile(64ul << 20));
    EXPECT_EQ(engine.data, engine.mmFile.view);
    EXPECT_EQ(engine.data[0], 'z');
    engine.data[(64ul << 20) - 1] = 'y';
    ASSERT_TRUE(engine.FlushView());
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// An address-space limit makes mremap fail (ENOMEM) while the disk has room.
TEST(MMFileDeathTest, failed_mremap_keeps_old_view_and_size) {
    TempDirectory dir;
    const std::string path = dir.File("remap");
    EXPECT_EXIT(
        {
            AppCore::MMFile file;
            if (!file.NewFile(path, 4096)) _exit(2);
            std::memcpy(file.view, "kept", 4);
            unsigned char* const oldView = file.view;
            rlimit limit{};
            getrlimit(RLIMIT_AS, &limit);
            // Current usage plus a margin, read from the mapping table's total.
            std::string status = ReadWholeFile("/proc/self/status");
            const size_t at = status.find("VmSize:");
            const unsigned long kib = std::stoul(status.substr(at + 7));
            limit.rlim_cur = (kib << 10) + (8ul << 20);
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(3);
            if (file.ResizeFile(256ul << 20)) _exit(4);
            if (file.view != oldView || file.fileSize != 4096 || file.viewLength != 4096) _exit(5);
            if (std::memcmp(file.view, "kept", 4) != 0) _exit(6);
            if (std::filesystem::file_size(path) != 4096) _exit(7);
            if (!file.FlushView()) _exit(8);
            _exit(0);
        },
        testing::ExitedWithCode(0), "MMFile - mremap failed with error");
}
#endif

TEST(MMFile, full_disk_fails_the_grow_and_keeps_the_file) {
    TestSupport::TinyFilesystem fs(64 * 1024);
    if (!fs.Mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs";
    FileEngine engine(true);
    ASSERT_TRUE(engine.NewFile(fs.File("full"), 4096));
    std::memcpy(engine.data, "fits", 4);
    unsigned char* const oldView = engine.data;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(engine.ResizeFile(1 << 20));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("MMFile - reserving disk space failed with error: No space left on device"), std::string::npos)
        << err;
    EXPECT_EQ(engine.data, oldView);
    EXPECT_EQ(engine.FileSize(), 4096u);
    EXPECT_EQ(std::filesystem::file_size(fs.File("full")), 4096u);
    EXPECT_TRUE(engine.FlushView());
    EXPECT_EQ(ReadWholeFile(fs.File("full")).substr(0, 4), "fits");
}

TEST(FileEngine, set_engine_only_switches_the_backend) {
    TempDirectory dir;
    WriteWholeFile(dir.File("m"), "mapped");
    WriteWholeFile(dir.File("b"), "buffered");
    FileEngine engine(true);
    ASSERT_TRUE(engine.OpenFile(dir.File("m"), "r"));
    unsigned char* const mapped = engine.data;
    engine.SetEngine(false);
    EXPECT_EQ(engine.data, mapped);
    ASSERT_TRUE(engine.OpenFile(dir.File("b"), "r"));
    EXPECT_EQ(Bytes(engine.data, 8), "buffered");
    EXPECT_EQ(Bytes(engine.mmFile.view, 6), "mapped");
}

TEST(FileEngine, move_hands_over_the_open_file) {
    TempDirectory dir;
    FileEngine first(true);
    ASSERT_TRUE(first.NewFile(dir.File("mv"), 4));
    std::memcpy(first.data, "move", 4);
    FileEngine second(std::move(first));
    EXPECT_EQ(first.data, nullptr);
    EXPECT_EQ(first.mmFile.fileDescriptor, -1);
    ASSERT_TRUE(second.FlushView());
    EXPECT_EQ(ReadWholeFile(dir.File("mv")), "move");
}

TEST(BasicFile, flush_writes_a_view_at_its_own_offset) {
    TempDirectory dir;
    const std::string path = dir.File("bv");
    WriteWholeFile(path, "0123456789");
    AppCore::BasicFile file;
    ASSERT_TRUE(file.OpenFile(path, "w"));
    ASSERT_TRUE(file.SetView(4, 3));
    std::memcpy(file.view, "abc", 3);
    ASSERT_TRUE(file.FlushView());
    EXPECT_EQ(ReadWholeFile(path), "0123abc789");
}

TEST(BasicFile, flush_after_a_byte_order_mark_writes_the_whole_block) {
    TempDirectory dir;
    const std::string path = dir.File("bom");
    WriteWholeFile(path, "\xEF\xBB\xBFtext");
    AppCore::BasicFile file;
    ASSERT_TRUE(file.OpenFile(path, "w"));
    file.view[0] = 'T';
    ASSERT_TRUE(file.FlushView());
    EXPECT_EQ(ReadWholeFile(path), "\xEF\xBB\xBFText");
}
