#include "driver/reporting/RunConditionsFile.h"

#include "driver/machine/LimitsText.h"
#include "driver/reporting/PeerText.h"

void RunConditionsFile::RunStarted(const RunStartRecord& start) {
    if (!start.conditions) return;
    std::vector<std::string> lines = RunConditionLines(*start.conditions);
    if (start.parallelPeerThreads) lines.push_back(PeerThreadsLine(*start.parallelPeerThreads));
    if (start.pairThreads) lines.push_back(PairThreadsLine(*start.pairThreads));
    if (start.cpuLimits) {
        for (std::string& line : LimitsLines(*start.cpuLimits)) lines.push_back(std::move(line));
    }
    for (std::string& line : RunConditionWarnings(*start.conditions)) lines.push_back(std::move(line));
    if (file.Init(runDirectory.Path(), kRunConditionsFileName, 'n', runDirectory.ReachedPath())) Append(lines);
}

void RunConditionsFile::GpuLimitsMeasured(const GpuLimits& limits) { Append(GpuLimitsLines(limits)); }

void RunConditionsFile::MeasuringEnded(const MeasuringEndRecord& end) {
    if (end.ownSizeProbes) Append({OwnSizeProbesLine(*end.ownSizeProbes, end.runSeconds)});
    if (end.memoryLooked) Append({HugePagesLine(end.largestMemory)});
}

void RunConditionsFile::Append(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    file += text;
}
