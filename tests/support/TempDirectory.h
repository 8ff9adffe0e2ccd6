#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace TestSupport {

// A fresh directory below the system's temporary directory, removed with all its
// content on destruction. Tests write here, never below /var/log.
class TempDirectory {
public:
    TempDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "sortbench-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        root = pattern;
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    const std::filesystem::path& Path() const { return root; }
    std::string File(const std::string& name) const { return (root / name).string(); }

private:
    std::filesystem::path root;
};

// A tmpfs of `bytes` bytes mounted on a temporary directory, in a private mount
// namespace when the process may make one, so a crashed test leaves no mount
// behind. Mounted() is false when the process lacks the privilege (not root).
class TinyFilesystem {
public:
    explicit TinyFilesystem(unsigned long bytes) {
        if (geteuid() != 0) {
            return;
        }
        if (unshare(CLONE_NEWNS) == 0) {
            (void)mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
        }
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
        mounted = mount("tmpfs", directory.Path().c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    TinyFilesystem(const TinyFilesystem&) = delete;
    TinyFilesystem& operator=(const TinyFilesystem&) = delete;
    ~TinyFilesystem() {
        if (mounted) {
            (void)umount2(directory.Path().c_str(), MNT_DETACH);
        }
    }

    bool Mounted() const { return mounted; }
    const std::filesystem::path& Path() const { return directory.Path(); }
    std::string File(const std::string& name) const { return directory.File(name); }

private:
    TempDirectory directory;
    bool mounted = false;
};

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

}  // namespace TestSupport
