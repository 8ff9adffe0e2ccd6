#pragma once

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/Benchmark.h"
#include "driver/command_line/RunPlan.h"

namespace TestSupport {

// The stamp of every run directory a test plans.
inline constexpr const char* kRunStamp = "261207081500";

// The plan of `args` (without the program, which is `program`) with run
// directories under `logDirectory` (ending with "/").
inline RunPlan PlanFor(std::vector<const char*> args, const std::string& logDirectory,
                       const std::string& program = "sortbench") {
    args.insert(args.begin(), program.c_str());
    return ParseCommandLine(static_cast<int>(args.size()), args.data(), kRunStamp, logDirectory);
}

// A whole benchmark run in this process under the C locale: its exit status and
// its standard output, whole and as lines.
struct CapturedRun {
    int status = -1;
    std::string out;
    std::vector<std::string> lines;

    // The lines that start with `prefix`.
    std::vector<std::string> Starting(const std::string& prefix) const {
        std::vector<std::string> found;
        for (const std::string& line : lines) {
            if (line.rfind(prefix, 0) == 0) found.push_back(line);
        }
        return found;
    }
};

// Runs `plan`. A refused plan fails the test instead of running the default ladder.
inline CapturedRun RunCaptured(const RunPlan& plan, const GpuColumns::Seams& seams = {}) {
    CapturedRun run;
    if (!plan.error.empty()) {
        ADD_FAILURE() << plan.error;
        return run;
    }
    setenv("LC_ALL", "C", 1);
    testing::internal::CaptureStdout();
    run.status = RunBenchmark(plan, seams);
    run.out = testing::internal::GetCapturedStdout();
    std::istringstream output(run.out);
    for (std::string line; std::getline(output, line);) run.lines.push_back(line);
    return run;
}

}  // namespace TestSupport
