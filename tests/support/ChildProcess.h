#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace TestSupport {

// A program started with its standard output and error on pipes, read line by
// line; killed and reaped on destruction if still running.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& args) {
        int out[2];
        int err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        outFd = out[0];
        errFd = err[0];
        if (failed != 0) throw std::runtime_error("cannot start " + args[0]);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (!reaped) {
            kill(pid, SIGKILL);
            (void)Wait();
        }
        CloseStdout();
        if (errFd >= 0) close(errFd);
    }

    pid_t Pid() const { return pid; }

    // The next line of standard output without its line feed; false at the end.
    bool ReadLine(std::string& line) {
        line.clear();
        char c;
        while (outFd >= 0 && read(outFd, &c, 1) == 1) {
            if (c == '\n') return true;
            line += c;
        }
        return !line.empty();
    }

    // Reads standard output until a line starts with `prefix`, `times` times over.
    bool SkipToLine(const std::string& prefix, int times = 1) {
        std::string line;
        while (times > 0 && ReadLine(line)) {
            if (line.rfind(prefix, 0) == 0) --times;
        }
        return times == 0;
    }

    // Everything left on standard output, then on standard error.
    std::string RestOfStdout() { return Drain(outFd); }
    std::string Stderr() { return Drain(errFd); }

    void CloseStdout() {
        if (outFd >= 0) close(outFd);
        outFd = -1;
    }

    // The wait status once the child has ended.
    int Wait() {
        if (!reaped) {
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
            reaped = true;
        }
        return status;
    }

private:
    static std::string Drain(int fd) {
        std::string text;
        char buffer[4096];
        for (ssize_t got; fd >= 0 && (got = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
        return text;
    }

    pid_t pid = -1;
    int outFd = -1;
    int errFd = -1;
    int status = 0;
    bool reaped = false;
};

}  // namespace TestSupport
