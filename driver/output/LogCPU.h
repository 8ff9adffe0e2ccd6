#pragma once

#include <istream>
#include <ostream>
#include <string>

// The OS and CPU sections of the system report printed before any benchmark.
class LogCPU {
public:
    // Prints the OS section (uname release, version, machine; left out when uname
    // fails) and the CPU section read from "/proc/cpuinfo" (empty when it cannot
    // be read) on standard output, each under its banner. Never fails.
    void Log() const;

    // The OS banner and its three lines, as Log prints them.
    static void WriteOSSection(std::ostream& out);

    // The CPU banner, then the CPU lines of the cpuinfo text at `path` (none when
    // the file cannot be opened).
    static void WriteCPUSection(const std::string& path, std::ostream& out);

    // The CPU lines of cpuinfo text: "  <key>:<value>\n" for each line whose key is
    // "vendor_id", "model name", "cpu MHz", "cache size" or "cpu cores", in input
    // order, stopping at the first "flags" line. Parsing per line: tabs are dropped;
    // a space survives only before an ASCII letter or digit, otherwise it and the
    // character after it are dropped (a dropped newline leaves the line unreported);
    // the first ":" starts the value, every ":" is dropped. A last line without a
    // newline is never complete and not reported.
    static void WriteCPULines(std::istream& cpuinfo, std::ostream& out);
};
