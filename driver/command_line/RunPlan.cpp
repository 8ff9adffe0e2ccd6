#include "driver/command_line/RunPlan.h"

#include <algorithm>
#include <ctime>

#include "driver/command_line/ColumnChoice.h"
#include "driver/command_line/OptionTable.h"

namespace {

// The columns -COLUMNS keeps of those the other options add; the rest are left out.
void ChooseRunColumns(OptionReader& reader) {
    RunPlan& plan = reader.plan;
    if (!reader.columnsChosen || !plan.error.empty()) return;
    const ColumnOffer offer{
        .columns = plan.columns, .gpu = plan.gpuEnabled, .pairs = plan.pairsEnabled, .peers = plan.peersEnabled};
    std::vector<Column> chosen;
    std::string problem;
    std::string repeated;
    if (!ChooseColumns(reader.columnList, offer, chosen, problem, repeated)) return reader.Refuse(problem);
    if (!repeated.empty())
        reader.Warn("-COLUMNS " + reader.columnList + ": each column is timed once (" + repeated +
                    " named more than once)");
    const auto kept = [&chosen](Column column) {
        return std::find(chosen.begin(), chosen.end(), column) != chosen.end();
    };
    // The GPU's warm-up takes the QA reference from the index buffer the 8-thread radix sort has just filled.
    if (plan.gpuEnabled && plan.qaEnabled && kept(Column::Gpu) && !kept(Column::Cpu8Thread))
        return reader.Refuse("-QA compares the GPU's permutation with CPU 8 Thread's: -COLUMNS must keep CPU 8 Thread");
    for (const Column column : plan.columns) {
        if (!kept(column)) plan.leftOut.push_back(column);
    }
    plan.columns = std::move(chosen);
}

}  // namespace

std::string ShaderPathFor(const std::string& programPath) {
    const size_t slash = programPath.rfind('/');
    if (slash == std::string::npos) return "Shaders";
    return programPath.substr(0, slash + 1) + "Shaders";
}

RunPlan ParseCommandLine(int argc, const char* const argv[], const std::string& startStamp,
                         const std::string& logDirectory) {
    RunPlan plan;
    plan.logDirectory = logDirectory;
    OptionReader reader{argc, argv, 1, plan, {}, {}, std::nullopt, {}, false, false};
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
    ChooseRunColumns(reader);
    plan.runName = std::string("cpu_") + (plan.gpuEnabled ? "gpu_" : "") + startStamp;
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) plan.arguments.emplace_back(argv[i]);
    plan.programPath = argc > 0 ? argv[0] : "sortbench";
    plan.shaderPath = argc > 0 ? ShaderPathFor(argv[0]) : "Shaders";
    return plan;
}
