#pragma once

#include <string>

namespace AppCore {

// A status line at the bottom of a terminal: drawn on standard error and
// redrawn in place, only when standard error is a terminal. Lines printed on
// standard output go through ConsolePrintf, which clears the status line first,
// so that the two never share a row of the screen. When standard error is not
// a terminal, Show and Clear write nothing.
//
// One thread draws (the one that prints the run's lines); Show writes with a
// single write(2), never inside a timed section of the caller's.
class StatusLine {
public:
    // The process's status line on standard error.
    static StatusLine& OnStandardError();

    // Whether standard error is a terminal (checked once).
    bool Active() const { return active; }

    // Draws `text` in place of the line shown, cut to the terminal's width.
    void Show(const std::string& text);
    // Removes the line shown, if any.
    void Clear();

private:
    StatusLine();

    bool active = false;
    bool shown = false;
};

// printf on standard output, with the status line cleared first and every
// control character but line feeds and tabs escaped (SLib::EscapedControls).
int ConsolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace AppCore
