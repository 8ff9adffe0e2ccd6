#include "driver/output/Interruption.h"

#include <signal.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "driver/output/JsonResults.h"
#include "driver/output/ReplacedFile.h"
#include "logging/SignalSafeTrim.h"

namespace {

// The line is assembled in the handler from fixed texts: no allocation there.
constexpr std::size_t kLocationCapacity = 4096;
char resultsLocation[kLocationCapacity];
std::atomic<bool> locationSet{false};

std::atomic<pid_t> handlingThread{0};

pid_t CurrentThread() { return static_cast<pid_t>(syscall(SYS_gettid)); }

const char* SignalName(int signal) {
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGPIPE: return "SIGPIPE";
    default: return "a signal";
    }
}

// Appends `text` to `line` at `used`, cut to the capacity; returns the new length.
std::size_t Append(char* line, std::size_t used, std::size_t capacity, const char* text) {
    for (; *text != '\0' && used < capacity; ++text) line[used++] = *text;
    return used;
}

std::size_t ComposeLine(int signal, char* line, std::size_t capacity) {
    std::size_t used = Append(line, 0, capacity, "Interrupted by ");
    used = Append(line, used, capacity, SignalName(signal));
    if (signal == SIGPIPE) used = Append(line, used, capacity, " (standard output was closed)");
    if (locationSet.load()) {
        used = Append(line, used, capacity, ": the results measured so far are in ");
        used = Append(line, used, capacity, resultsLocation);
    } else {
        used = Append(line, used, capacity, " before any result was written");
    }
    return Append(line, used, capacity, "\n");
}

void OnInterruption(int signal) {
    const pid_t handler = handlingThread.load();
    if (CurrentThread() != handler) {
        // The result-file writer may be mid-copy; let it be the one interrupted.
        (void)syscall(SYS_tgkill, getpid(), handler, signal);
        return;
    }
    SignalSafeTrim::TrimAll();
    JsonResults::WriteFromSignalHandler();
    // From the -JSON claim on, before and after the document exists: a placeholder
    // no document replaced leaves the path as the run found it.
    ReplacedFile::DropPlaceholderFromSignalHandler();
    char line[kLocationCapacity + 128];
    const std::size_t length = ComposeLine(signal, line, sizeof line);
    // A status line on a terminal steps aside, as it does for every other line.
    termios terminal{};
    if (tcgetattr(STDERR_FILENO, &terminal) == 0) (void)!write(STDERR_FILENO, "\r\033[K", 4);
    // With standard output gone, the line can only reach the terminal through stderr.
    (void)!write(signal == SIGPIPE ? STDERR_FILENO : STDOUT_FILENO, line, length);
    _exit(128 + signal);
}

}  // namespace

void InstallInterruptionHandlers() {
    handlingThread.store(CurrentThread());
    struct sigaction action {};
    action.sa_handler = OnInterruption;
    sigemptyset(&action.sa_mask);
    // One interruption at a time: the others wait while the first trims and exits.
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&action.sa_mask, signal);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        // A signal ignored at start was ignored on purpose (nohup, a shell's
        // trap ''): it stays so.
        struct sigaction inherited {};
        if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
        (void)sigaction(signal, &action, nullptr);
    }
}

void SetInterruptedResultsLocation(const std::string& runDirectory) {
    locationSet.store(false);
    const std::size_t length = std::min(runDirectory.size(), kLocationCapacity - 1);
    std::memcpy(resultsLocation, runDirectory.data(), length);
    resultsLocation[length] = '\0';
    locationSet.store(true);
}

std::string InterruptionLine(int signal) {
    char line[kLocationCapacity + 128];
    const std::size_t length = ComposeLine(signal, line, sizeof line);
    return std::string(line, length - 1);
}
