// Whole runs of the real program held against stored copies of their console
// output and files, with times and machine facts masked: what a change of the
// code's shape must leave byte for byte as it was.
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/GoldenText.h"
#include "tests/support/TempDirectory.h"

using TestSupport::ChildProcess;
using TestSupport::ExpectGolden;
using TestSupport::MaskedJson;
using TestSupport::MaskedRunText;
using TestSupport::ReadWholeFile;
using TestSupport::TempDirectory;

namespace {

const std::string kGolden = SORTBENCH_GOLDEN_DIR;

// The run's standard output, standard error and exit status, masked, followed by
// every file it wrote in name order (the lock file aside). "{logs}" in `args`
// stands for a fresh directory of the run's own.
std::string RunAndMask(std::vector<std::string> args) {
    const TempDirectory logs;
    for (std::string& arg : args) {
        if (const std::size_t at = arg.find("{logs}"); at != std::string::npos)
            arg.replace(at, 6, logs.Path().string());
    }
    args.insert(args.begin(), SORTBENCH_BINARY);
    ChildProcess run(args);
    const std::string out = run.RestOfStdout();
    const std::string err = run.Stderr();
    const int status = run.Wait();
    const std::string root = logs.Path().string();
    std::string text = "$";
    for (std::size_t i = 1; i < args.size(); ++i) text += " " + args[i];
    text = MaskedRunText(text, root) + "\n--- status " + std::to_string(WEXITSTATUS(status)) + "\n--- stdout\n" +
           MaskedRunText(out, root) + "--- stderr\n" + MaskedRunText(err, root);
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(logs.Path())) {
        // The run's manifest has a contract test of its own.
        const bool manifest = entry.path().filename() == "run.json" &&
                              entry.path().parent_path().filename().string().rfind("cpu_", 0) == 0;
        if (entry.is_regular_file() && entry.path().filename() != "run.lock" && !manifest)
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        const std::string bytes = ReadWholeFile(file.string());
        text += "--- " + MaskedRunText(file.string(), root) + "\n" +
                (file.extension() == ".json" ? MaskedJson(bytes, root)
                                             : MaskedRunText(bytes, root, file.filename() == "run_conditions.txt")) +
                "\n";
    }
    return text;
}

}  // namespace

TEST(GoldenRun, repetitions_distributions_peers_and_json_keep_their_bytes) {
    ExpectGolden(kGolden, "repetitions.txt",
                 RunAndMask({"-O", "{logs}", "-S", "1000", "-R", "3", "-D", "uniform,zipf", "-PEERS", "-JSON",
                             "{logs}/run.json"}));
}

TEST(GoldenRun, a_single_repetition_keeps_its_bytes) {
    ExpectGolden(kGolden, "single.txt", RunAndMask({"-O", "{logs}", "-MIN", "-D", "sorted"}));
}

TEST(GoldenRun, the_system_report_gpu_without_a_device_and_bad_options_keep_their_bytes) {
    std::string text = RunAndMask({"-O", "{logs}", "-INFO", "-GPU"});
    // The software device is not a GPU to the program: the run stops before the first benchmark.
    text += RunAndMask({"-O", "{logs}", "-GPU", "-MIN"});
    text += RunAndMask({"-O", "{logs}", "-R", "0", "-Gpu", "-S"});
    text += RunAndMask({"-O", "{logs}", "-D", "zipf,all", "-h"});
    ExpectGolden(kGolden, "report_and_refusals.txt", text);
}
