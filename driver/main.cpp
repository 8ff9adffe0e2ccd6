#include <cstdio>

#include "driver/Benchmark.h"
#include "driver/ConsoleText.h"
#include "driver/RunPlan.h"

int main(int argc, char* argv[]) {
    // A run takes hours: every line must reach a pipe or a log file as it happens.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::string startStamp = GetTimeStamp();
    return RunBenchmark(ParseCommandLine(argc, argv, startStamp));
}
