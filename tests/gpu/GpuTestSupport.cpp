#include "tests/gpu/GpuTestSupport.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace GpuTest {

namespace {

std::filesystem::path workDirectory;
std::filesystem::path validationLog;

// Points the process at the software device and the validation layer (unless
// the environment already chose) and has the layer log every
// error, warning and performance warning to a file of this process, with
// synchronization validation on: a missing or too narrow barrier between
// dispatches and transfers is reported like any other misuse.
class GpuEnvironment : public testing::Environment {
public:
    void SetUp() override {
        setenv("VK_DRIVER_FILES", SORTBENCH_SOFTWARE_ICD, 0);
        setenv("VK_ICD_FILENAMES", SORTBENCH_SOFTWARE_ICD, 0);
        setenv("VK_INSTANCE_LAYERS", "VK_LAYER_KHRONOS_validation", 0);

        workDirectory = std::filesystem::temp_directory_path() / ("sortbench-gpu-tests-" + std::to_string(getpid()));
        std::filesystem::create_directories(workDirectory);
        validationLog = workDirectory / "validation.log";
        const std::filesystem::path settings = workDirectory / "vk_layer_settings.txt";
        std::ofstream(settings) << "khronos_validation.debug_action = VK_DBG_LAYER_ACTION_LOG_MSG\n"
                                << "khronos_validation.log_filename = " << validationLog.string() << "\n"
                                << "khronos_validation.report_flags = error,warn,perf\n";
        if (SynchronizationValidation()) {
            std::ofstream(settings, std::ios::app)
                << "khronos_validation.enables = VK_VALIDATION_FEATURE_ENABLE_SYNCHRONIZATION_VALIDATION_EXT\n";
        }
        setenv("VK_LAYER_SETTINGS_PATH", settings.c_str(), 1);
    }

    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(workDirectory, ignored);
    }
};

[[maybe_unused]] testing::Environment* const environment = testing::AddGlobalTestEnvironment(new GpuEnvironment);

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written <= 0) {
            return;
        }
        done += static_cast<size_t>(written);
    }
}

std::string ReadAll(int fd) {
    std::string text;
    char chunk[4096];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0) {
        text.append(chunk, static_cast<size_t>(got));
    }
    return text;
}

constexpr const char* kSkipPrefix = "SKIP:";

std::string RunInChild(const std::string& replacement, const std::function<std::string()>& body) {
    if (unshare(CLONE_NEWNS) != 0) {
        return std::string(kSkipPrefix) + "unshare(CLONE_NEWNS): " + std::strerror(errno);
    }
    // Private first, so that the bind mounts below never reach the machine.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return std::string(kSkipPrefix) + "making / private: " + std::strerror(errno);
    }
    std::set<std::string> targets;
    for (const char* directory : {"/usr/lib/x86_64-linux-gnu", "/lib/x86_64-linux-gnu", "/usr/lib64", "/lib64",
                                  "/usr/lib", "/lib", "/usr/local/lib"}) {
        for (const char* name : {"libvulkan.so", "libvulkan.so.1"}) {
            std::error_code error;
            const std::filesystem::path real =
                std::filesystem::canonical(std::filesystem::path(directory) / name, error);
            if (!error) {
                targets.insert(real.string());
            }
        }
    }
    if (targets.empty()) {
        return std::string(kSkipPrefix) + "no Vulkan loader on the library path to replace";
    }
    for (const std::string& target : targets) {
        if (mount(replacement.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            return std::string(kSkipPrefix) + "bind mount over " + target + ": " + std::strerror(errno);
        }
    }
    try {
        return body();
    } catch (const std::exception& error) {
        return std::string("unexpected exception: ") + error.what();
    }
}

}  // namespace

std::string TakeValidationLog() {
    std::ifstream file(validationLog);
    if (!file) {
        return "";
    }
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    file.close();
    std::ofstream(validationLog, std::ios::trunc);
    return text;
}

bool ValidationLayerWasActive() { return std::filesystem::exists(validationLog); }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

ChildReport RunWithLoaderReplaced(const std::string& replacement, const std::function<std::string()>& body) {
    int channel[2];
    if (pipe(channel) != 0) {
        return {false, std::string("pipe: ") + std::strerror(errno)};
    }
    std::cout.flush();
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        WriteAll(channel[1], RunInChild(replacement, body));
        close(channel[1]);
        _exit(0);
    }
    close(channel[1]);
    if (child < 0) {
        close(channel[0]);
        return {false, std::string("fork: ") + std::strerror(errno)};
    }
    std::string text = ReadAll(channel[0]);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return {false, "the child died (status " + std::to_string(status) + ") after: " + text};
    }
    if (text.rfind(kSkipPrefix, 0) == 0) {
        return {true, text.substr(std::strlen(kSkipPrefix))};
    }
    return {false, text};
}

}  // namespace GpuTest
