#include "support/StatusLine.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <string>

#include "strings/EscapedText.h"

namespace AppCore {

namespace {

// Carriage return to the line's start, then erase to its end (ECMA-48 EL).
constexpr const char* kClearLine = "\r\033[K";

// Columns of the terminal on standard error; 80 when it will not say.
std::size_t TerminalWidth() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

void WriteAll(const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t written = write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (written <= 0) return;
        done += static_cast<std::size_t>(written);
    }
}

}  // namespace

StatusLine& StatusLine::OnStandardError() {
    static StatusLine line;
    return line;
}

StatusLine::StatusLine() : active(isatty(STDERR_FILENO) == 1) {}

void StatusLine::Show(const std::string& text) {
    if (!active) return;
    // One column short of the width: a full row would wrap on some terminals.
    const std::size_t width = TerminalWidth() - 1;
    // Standard output may hold a line not yet flushed; it must reach the screen first.
    std::fflush(stdout);
    WriteAll(kClearLine + text.substr(0, width));
    shown = true;
}

void StatusLine::Clear() {
    if (!active || !shown) return;
    WriteAll(kClearLine);
    shown = false;
}

int ConsolePrintf(const char* format, ...) {
    StatusLine::OnStandardError().Clear();
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    if (length < 0) {
        va_end(again);
        return length;
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    text.pop_back();
    // A path or an argument in the line must not drive the terminal.
    const std::string shown = SLib::EscapedControlsKeepingLines(text);
    return std::fwrite(shown.data(), 1, shown.size(), stdout) == shown.size() ? static_cast<int>(shown.size()) : -1;
}

}  // namespace AppCore
