#include "driver/machine/CpuReportLines.h"

#include <array>
#include <sstream>

namespace {

constexpr std::array<const char*, 5> kReportedKeys{"vendor_id", "model name", "cpu MHz", "cache size", "cpu cores"};

bool IsAsciiAlphanumeric(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsReported(const std::string& key) {
    for (const char* reported : kReportedKeys) {
        if (key == reported) return true;
    }
    return false;
}

enum class LineEnd { Incomplete, Reported, Skipped, Flags };

// Walks one line (with its newline when it had one) and keeps it if reported.
LineEnd ParseLine(const std::string& line, std::vector<std::string>& out) {
    std::string key;
    std::string value;
    bool inValue = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        switch (c) {
        case '\n':
            if (key == "flags") return LineEnd::Flags;
            if (IsReported(key)) {
                out.push_back("  " + key + ":" + value);
                return LineEnd::Reported;
            }
            return LineEnd::Skipped;
        case '\t': break;
        case ' ':
            if (i + 1 < line.size() && IsAsciiAlphanumeric(line[i + 1])) {
                (inValue ? value : key) += c;
            } else {
                ++i;  // the character after such a space goes with it
            }
            break;
        case ':': inValue = true; break;
        default: (inValue ? value : key) += c; break;
        }
    }
    return LineEnd::Incomplete;
}

}  // namespace

std::vector<std::string> CpuReportLines(const std::string& cpuinfo) {
    std::vector<std::string> lines;
    std::istringstream in(cpuinfo);
    std::string line;
    while (std::getline(in, line)) {
        // getline drops the newline; the parser needs to see it to complete a line.
        if (!in.eof()) line += '\n';
        if (ParseLine(line, lines) == LineEnd::Flags) break;
    }
    return lines;
}
