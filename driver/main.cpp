#include <cstdio>

#include "driver/Benchmark.h"
#include "driver/command_line/RunPlan.h"
#include "driver/command_line/UsageText.h"
#include "driver/output/ConsoleText.h"
#include "driver/output/Interruption.h"
#include "strings/EscapedText.h"

int main(int argc, char* argv[]) {
    // A run takes hours: every line must reach a pipe or a log file as it happens.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string startStamp = GetTimeStamp();
    const RunPlan plan = ParseCommandLine(argc, argv, startStamp);
    // Warnings and refusals quote arguments, which are data: escaped, one line each.
    for (const std::string& warning : plan.warnings)
        std::fprintf(stderr, "%s\n", SLib::EscapedControls(warning).c_str());
    if (plan.showUsage) {
        std::fputs(UsageText(), stdout);
        return kExitComplete;
    }
    if (!plan.error.empty()) {
        std::fprintf(stderr, "%s\n", SLib::EscapedControls(plan.error).c_str());
        return kExitBadOption;
    }
    // Before the GPU driver or any sort starts a thread, so the handler knows the
    // thread that writes the result files.
    InstallInterruptionHandlers();
    return RunBenchmark(plan);
}
