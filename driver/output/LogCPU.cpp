#include "driver/output/LogCPU.h"

#include <cstdio>

#include "driver/output/SectionBanners.h"

std::string LogCPU::ReportText(const MachineFacts& facts) {
    std::string text = SectionBanner("OS INFO") + "\n";
    if (facts.kernel) {
        text += "  release: " + facts.kernel->release + "\n";
        text += "  version: " + facts.kernel->version + "\n";
        text += "  machine: " + facts.kernel->machine + "\n";
    }
    text += SectionBanner("CPU INFO") + "\n";
    for (const std::string& line : facts.cpuReportLines) text += line + "\n";
    return text;
}

void LogCPU::Log(const MachineFacts& facts) {
    std::fputs(ReportText(facts).c_str(), stdout);
    std::fflush(stdout);
}
