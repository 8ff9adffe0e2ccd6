#pragma once

#include <string>

// What an interrupted run does: SIGINT, SIGTERM, SIGHUP and SIGPIPE cut every
// open result file back to the text written so far (no zero padding, complete
// rows kept, a row being written kept as far as it got), write the -JSON file
// with every result so far (or, before the first result, remove the empty
// placeholder its claim made), print one line saying so and where the results
// are, and end the process with status 128 + signal.
//
// The handler is async-signal-safe: it reads lock-free state and only calls
// ftruncate, the file calls of a store (ReplacedFile), unlinkat, write and _exit. It always acts on the thread that
// installed it; another thread that catches the signal hands it on, so that the trim never races a write of that thread
// into a result file.

// Installs the handlers, except for the signals that were ignored when the
// process started (under nohup, or a shell's trap ''), which stay ignored.
// Call once, from the thread that writes the result files, before any other
// thread is started.
void InstallInterruptionHandlers();

// The directory the interruption line names from now on; before the first call
// the line says that no result was written yet.
void SetInterruptedResultsLocation(const std::string& runDirectory);

// The line printed for `signal` (without its line feed); for tests.
std::string InterruptionLine(int signal);
