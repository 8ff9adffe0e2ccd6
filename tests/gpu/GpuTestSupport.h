#pragma once

// What every GPU core test shares: the software device, the validation layer
// whose every message fails the test, and runs in a process without the real
// Vulkan loader.

#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "gpu/QVEvalCore.h"

namespace GpuTest {

// Whether the layer also runs its synchronization validation. Not under
// AddressSanitizer: that validation keeps state the layer never frees before the
// loader unloads it, and LeakSanitizer then reports it with no frame to
// suppress it by. The other builds run every GPU test with it.
constexpr bool SynchronizationValidation() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    return true;
#endif
}

// The validation layer's log since the last call, emptied.
std::string TakeValidationLog();

// True once an instance with the validation layer existed in this process.
bool ValidationLayerWasActive();

// Core options whose start-up report goes to std::cout, where CoutCapture
// reads it.
inline QVEvalCore::QVCore::Options ReportingToCout() {
    QVEvalCore::QVCore::Options options;
    options.report = [](const std::string& line) { std::cout << line << '\n'; };
    return options;
}

// Core options that let the core accept the software device, reporting as above.
inline QVEvalCore::QVCore::Options SoftwareDevice() {
    QVEvalCore::QVCore::Options options = ReportingToCout();
    options.allowCpuDevices = true;
    return options;
}

// Standard output of the calling thread's std::cout while it lives.
class CoutCapture {
public:
    CoutCapture() : previous(std::cout.rdbuf(text.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(previous); }
    CoutCapture(const CoutCapture&) = delete;
    CoutCapture& operator=(const CoutCapture&) = delete;
    std::string Text() const { return text.str(); }

private:
    std::ostringstream text;
    std::streambuf* previous;
};

// A core (or a class derived from it) whose whole life the validation layer
// watches: destroying it fails the test if the layer said anything, including
// objects left undestroyed at vkDestroyDevice and vkDestroyInstance.
template <typename Core = QVEvalCore::QVCore>
class CheckedCore {
public:
    template <typename... Args>
    explicit CheckedCore(Args&&... args) {
        TakeValidationLog();
        core = std::make_unique<Core>(std::forward<Args>(args)...);
    }
    ~CheckedCore() { Destroy(); }
    CheckedCore(const CheckedCore&) = delete;
    CheckedCore& operator=(const CheckedCore&) = delete;

    Core* operator->() const { return core.get(); }
    Core& operator*() const { return *core; }

    void Destroy() {
        if (core) {
            core.reset();
            EXPECT_TRUE(ValidationLayerWasActive()) << "no validation: VK_INSTANCE_LAYERS lacks the layer";
            const std::string log = TakeValidationLog();
            EXPECT_TRUE(log.empty()) << "the validation layer reported:\n" << log;
        }
    }

private:
    std::unique_ptr<Core> core;
};

// The lines of `text`, each without its line end.
std::vector<std::string> Lines(const std::string& text);

struct ChildReport {
    bool skipped = false;
    std::string text;  // what `body` returned, or why the run was skipped
};

// Runs `body` in a forked child whose private mount namespace shows the file
// `replacement` in place of every libvulkan.so / libvulkan.so.1 on the
// library path. Skipped where mount namespaces are not available (not root).
ChildReport RunWithLoaderReplaced(const std::string& replacement, const std::function<std::string()>& body);

}  // namespace GpuTest
