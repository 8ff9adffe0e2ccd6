#include "driver/command_line/RunPlan.h"

#include <ctime>

#include "driver/command_line/OptionTable.h"

std::string ShaderPathFor(const std::string& programPath) {
    const size_t slash = programPath.rfind('/');
    if (slash == std::string::npos) return "Shaders";
    return programPath.substr(0, slash + 1) + "Shaders";
}

RunPlan ParseCommandLine(int argc, const char* const argv[], const std::string& startStamp,
                         const std::string& logDirectory) {
    RunPlan plan;
    plan.logDirectory = logDirectory;
    OptionReader reader{argc, argv, 1, plan, {}, {}};
    for (; reader.i < argc; ++reader.i) {
        const char* arg = argv[reader.i];
        if (const OptionRow* option = OptionSpelled(arg)) {
            option->take(reader, arg);
        } else {
            reader.Warn(std::string("Ignoring unknown argument: ") + arg + " (-help lists the options)");
        }
    }

    // What the options decide together, once every one is read.
    if (!plan.repetition.untilSure) {
        for (const char* option : reader.autoTuning)
            reader.Warn(std::string("Ignoring ") + option + ": it applies to -R auto only");
    }
    plan.counts = reader.counts.Counts();
    // Without -SEED the generator is seeded as it always was: the keys differ from run to run.
    plan.seed = reader.seed.value_or(static_cast<std::uint64_t>(std::time(nullptr)));
    plan.columns = RunColumns(plan.gpuEnabled, plan.peers, plan.pairsEnabled);
    plan.runName = std::string("cpu_") + (plan.gpuEnabled ? "gpu_" : "") + startStamp;
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) plan.arguments.emplace_back(argv[i]);
    plan.programPath = argc > 0 ? argv[0] : "sortbench";
    plan.shaderPath = argc > 0 ? ShaderPathFor(argv[0]) : "Shaders";
    return plan;
}
