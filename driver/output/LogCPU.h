#pragma once

#include <string>

#include "driver/machine/MachineFacts.h"

// The OS and CPU sections of the system report printed before any benchmark,
// rendered from the machine's facts (ReadMachineFacts).
class LogCPU {
public:
    // The OS banner with the kernel's release, version and machine (no lines
    // when uname failed), then the CPU banner with the report's CPU lines.
    static std::string ReportText(const MachineFacts& facts);

    // Prints ReportText on standard output. Never fails.
    static void Log(const MachineFacts& facts);
};
