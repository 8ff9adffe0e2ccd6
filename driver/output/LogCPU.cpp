#include "driver/output/LogCPU.h"

#include <cstdio>

namespace {

constexpr const char* kOSBanner = "----------------------------- OS INFO -----------------------------\n";
constexpr const char* kCPUBanner = "----------------------------- CPU INFO -----------------------------\n";

}  // namespace

std::string LogCPU::ReportText(const MachineFacts& facts) {
    std::string text = kOSBanner;
    if (facts.kernel) {
        text += "  release: " + facts.kernel->release + "\n";
        text += "  version: " + facts.kernel->version + "\n";
        text += "  machine: " + facts.kernel->machine + "\n";
    }
    text += kCPUBanner;
    for (const std::string& line : facts.cpuReportLines) text += line + "\n";
    return text;
}

void LogCPU::Log(const MachineFacts& facts) {
    std::fputs(ReportText(facts).c_str(), stdout);
    std::fflush(stdout);
}
