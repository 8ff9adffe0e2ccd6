#include "driver/output/LogCPU.h"

#include <sys/utsname.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

constexpr const char* kOSBanner = "----------------------------- OS INFO -----------------------------\n";
constexpr const char* kCPUBanner = "----------------------------- CPU INFO -----------------------------\n";

constexpr std::array<const char*, 5> kReportedKeys{"vendor_id", "model name", "cpu MHz", "cache size", "cpu cores"};

bool IsAsciiAlphanumeric(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsReported(const std::string& key) {
    for (const char* reported : kReportedKeys) {
        if (key == reported) return true;
    }
    return false;
}

enum class LineEnd { Incomplete, Reported, Skipped, Flags };

// Walks one line (with its newline when it had one) and prints it if reported.
LineEnd ParseLine(const std::string& line, std::ostream& out) {
    std::string key;
    std::string value;
    bool inValue = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        switch (c) {
        case '\n':
            if (key == "flags") return LineEnd::Flags;
            if (IsReported(key)) {
                out << "  " << key << ':' << value << '\n';
                return LineEnd::Reported;
            }
            return LineEnd::Skipped;
        case '\t':
            break;
        case ' ':
            if (i + 1 < line.size() && IsAsciiAlphanumeric(line[i + 1])) {
                (inValue ? value : key) += c;
            } else {
                ++i;  // the character after such a space goes with it
            }
            break;
        case ':':
            inValue = true;
            break;
        default:
            (inValue ? value : key) += c;
            break;
        }
    }
    return LineEnd::Incomplete;
}

}  // namespace

void LogCPU::WriteCPULines(std::istream& cpuinfo, std::ostream& out) {
    std::string line;
    while (std::getline(cpuinfo, line)) {
        // getline drops the newline; the parser needs to see it to complete a line.
        if (!cpuinfo.eof()) line += '\n';
        if (ParseLine(line, out) == LineEnd::Flags) return;
    }
}

void LogCPU::WriteOSSection(std::ostream& out) {
    out << kOSBanner;
    utsname system{};
    if (uname(&system) == 0) {
        out << "  release: " << system.release << '\n';
        out << "  version: " << system.version << '\n';
        out << "  machine: " << system.machine << '\n';
    }
}

void LogCPU::WriteCPUSection(const std::string& path, std::ostream& out) {
    out << kCPUBanner;
    std::ifstream cpuinfo(path);
    if (cpuinfo) WriteCPULines(cpuinfo, out);
}

void LogCPU::Log() const {
    std::ostringstream report;
    WriteOSSection(report);
    WriteCPUSection("/proc/cpuinfo", report);
    std::fputs(report.str().c_str(), stdout);
    std::fflush(stdout);
}
