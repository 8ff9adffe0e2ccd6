#include "driver/reporting/RunManifest.h"

#include <cstdio>

#include "driver/output/JsonText.h"
#include "driver/output/ResultFiles.h"
#include "driver/output/RunConditions.h"
#include "strings/EscapedText.h"
#include "support/DataTypes.h"
#include "support/StatusLine.h"

namespace {

using JsonText::AppendField;
using JsonText::AppendKey;
using JsonText::AppendShortestDouble;
using JsonText::AppendString;

constexpr int kFormatVersion = 1;

template <typename T, typename Append>
void AppendArray(std::string& out, const std::vector<T>& items, Append append) {
    out += '[';
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += ", ";
        append(out, items[i]);
    }
    out += ']';
}

void AppendStrings(std::string& out, const std::vector<std::string>& items) {
    AppendArray(out, items, [](std::string& text, const std::string& item) { AppendString(text, item); });
}

void AppendBool(std::string& out, const char* indent, const char* key, bool value, bool last = false) {
    AppendKey(out, indent, key);
    out += value ? "true" : "false";
    out += last ? "\n" : ",\n";
}

std::string MachineText(const MachineFacts& machine) {
    const char* in = "    ";
    std::string out = "{\n";
    AppendKey(out, in, "load_averages");
    AppendArray(out, machine.loadAverages, [](std::string& text, double load) { AppendShortestDouble(text, load); });
    out += ",\n";
    AppendField(out, in, "online_cpus", static_cast<std::uint64_t>(std::max(machine.onlineCpus, 0)));
    AppendKey(out, in, "governors");
    AppendStrings(out, machine.governors);
    out += ",\n";
    AppendField(out, in, "transparent_huge_pages", machine.transparentHugePages);
    AppendKey(out, in, "hypervisor");
    out += !machine.hypervisor ? "null" : *machine.hypervisor ? "true" : "false";
    out += ",\n";
    AppendField(out, in, "cpu_mhz", static_cast<std::uint64_t>(std::max(machine.cpuMhz, 0L)));
    AppendKey(out, in, "caches");
    AppendArray(out, machine.caches, [](std::string& text, const CacheFacts& cache) {
        text += "{\"type\": ";
        AppendString(text, cache.type);
        text += ", \"level\": " + std::to_string(cache.level) + ", \"size\": " + std::to_string(cache.bytes) +
                ", \"num_sharing\": " + std::to_string(cache.sharingCpus) + "}";
    });
    out += ",\n";
    AppendField(out, in, "host_name", machine.hostName, true);
    return out + "  }";
}

const char* OutcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Continue: return "complete";
    case Outcome::SortFailed: return "sort failed";
    case Outcome::CheckFailed: return "check failed";
    }
    return "complete";
}

}  // namespace

RunManifest::RunManifest(const RunPlan& plan, std::vector<std::string> arguments, const RunDirectory& runDirectory)
    : plan(plan),
      arguments(std::move(arguments)),
      file(runDirectory.Folder(), "run.json", runDirectory.Path() + "run.json"),
      machineText("{}") {}

void RunManifest::MeasuringStarted(const MachineFacts& machine, const Fields& limitFields) {
    machineText = MachineText(machine);
    limits = limitFields;
    (void)Store();
}

void RunManifest::DataSetRefused(const DataSetRecord& set, const std::string&) {
    dataSets.push_back({set.series, set.typeName, set.distribution, set.count, "refused", 0, false, 0.0, {}, {}});
    (void)Store();
}

void RunManifest::DataSetEnded(const DataSetRecord& set, const DataSetEndRecord& end) {
    dataSets.push_back({set.series, set.typeName, set.distribution, set.count, OutcomeName(end.outcome), end.rounds,
                        end.intervalReached, end.seconds, end.referenceMs, end.drift});
    (void)Store();
}

bool RunManifest::RunEnded(int status) {
    exitStatus = status;
    return Store();
}

std::string RunManifest::Text() const {
    const char* in = "  ";
    const char* in2 = "    ";
    std::string out = "{\n";
    AppendField(out, in, "format", "sortbench run manifest");
    AppendField(out, in, "format_version", static_cast<std::uint64_t>(kFormatVersion));
    AppendField(out, in, "program_version", ProgramVersion());
    AppendKey(out, in, "arguments");
    AppendStrings(out, arguments);
    out += ",\n";

    AppendKey(out, in, "plan");
    out += "{\n";
    AppendKey(out, in2, "counts");
    AppendArray(out, plan.counts, [](std::string& text, std::uint64_t count) { text += std::to_string(count); });
    out += ",\n";
    std::vector<std::string> names;
    for (const AppCore::DataTypeFacts& type : AppCore::kDataTypes) names.emplace_back(type.name);
    AppendKey(out, in2, "types");
    AppendStrings(out, names);
    out += ",\n";
    names.clear();
    for (const Distribution distribution : plan.distributions) names.emplace_back(DistributionName(distribution));
    AppendKey(out, in2, "distributions");
    AppendStrings(out, names);
    out += ",\n";
    names.clear();
    for (const Column column : plan.columns) names.emplace_back(FactsOf(column).name);
    AppendKey(out, in2, "columns");
    AppendStrings(out, names);
    out += ",\n";
    AppendField(out, in2, "repetitions", static_cast<std::uint64_t>(plan.repetitions));
    AppendBool(out, in2, "until_sure", plan.untilSure);
    AppendKey(out, in2, "interval_target");
    AppendShortestDouble(out, plan.intervalTarget);
    out += ",\n";
    AppendKey(out, in2, "budget_seconds");
    AppendShortestDouble(out, plan.budgetSeconds);
    out += ",\n";
    AppendBool(out, in2, "gpu", plan.gpuEnabled);
    AppendBool(out, in2, "qa", plan.qaEnabled);
    AppendBool(out, in2, "peers", plan.peersEnabled);
    AppendKey(out, in2, "json");
    if (plan.jsonPath.empty()) {
        out += "null";
    } else {
        AppendString(out, plan.jsonPath);
    }
    out += "\n  },\n";

    AppendKey(out, in, "machine");
    out += machineText + ",\n";
    AppendKey(out, in, "limits");
    out += "{";
    for (std::size_t i = 0; i < limits.size(); ++i) {
        out += i == 0 ? "\n" : ",\n";
        AppendKey(out, in2, limits[i].first.c_str());
        AppendString(out, limits[i].second);
    }
    out += limits.empty() ? "},\n" : "\n  },\n";
    // Floors priced before 2026-12-08 took the fixed probe's sizes and run.json had no such field.
    AppendKey(out, in, "floor_pricing");
    if (plan.repetitions > 1) {
        AppendString(out, "own sizes");
    } else {
        out += "null";
    }
    out += ",\n";

    AppendKey(out, in, "files");
    out += "[";
    const struct {
        const char* prefix;
        const char* kind;
        std::string header;
    } kinds[] = {{"bench_", "results", ResultHeader(plan.columns)},
                 {"stats_", "stats", StatsFileHeader(plan.untilSure)},
                 {"speedup_", "speedups", SpeedupHeader()}};
    bool firstFile = true;
    for (const auto& kind : kinds) {
        if (plan.repetitions == 1 && std::string(kind.kind) != "results") continue;
        for (const AppCore::DataTypeFacts& type : AppCore::kDataTypes) {
            for (const Distribution distribution : plan.distributions) {
                const std::string series = SeriesKey(type.name, distribution);
                out += firstFile ? "\n    {" : ",\n    {";
                firstFile = false;
                out += "\"name\": ";
                AppendString(out, kind.prefix + series + ".csv");
                out += ", \"kind\": ";
                AppendString(out, kind.kind);
                out += ", \"series\": ";
                AppendString(out, series);
                out += ", \"type\": ";
                AppendString(out, type.name);
                out += ", \"distribution\": ";
                AppendString(out, DistributionName(distribution));
                out += ", \"header\": ";
                AppendString(out, kind.header);
                out += "}";
            }
        }
    }
    out += "\n  ],\n";

    AppendKey(out, in, "data_sets");
    out += "[";
    for (std::size_t i = 0; i < dataSets.size(); ++i) {
        const DataSetEntry& set = dataSets[i];
        out += i == 0 ? "\n    {" : ",\n    {";
        out += "\"series\": ";
        AppendString(out, set.series);
        out += ", \"type\": ";
        AppendString(out, set.typeName);
        out += ", \"distribution\": ";
        AppendString(out, DistributionName(set.distribution));
        out += ", \"count\": " + std::to_string(set.count) + ", \"outcome\": ";
        AppendString(out, set.outcome);
        out += ", \"rounds\": " + std::to_string(set.rounds);
        out += std::string(", \"interval_reached\": ") + (set.intervalReached ? "true" : "false");
        out += ", \"seconds\": ";
        AppendShortestDouble(out, set.seconds);
        if (plan.untilSure) {
            out += ", \"reference_ms\": [";
            for (std::size_t r = 0; r < set.referenceMs.size(); ++r) {
                if (r > 0) out += ", ";
                AppendShortestDouble(out, set.referenceMs[r]);
            }
            out += "], \"drift\": ";
            if (set.drift) {
                AppendShortestDouble(out, *set.drift);
            } else {
                out += "null";
            }
        }
        out += "}";
    }
    out += dataSets.empty() ? "],\n" : "\n  ],\n";
    AppendKey(out, in, "exit_status");
    out += exitStatus ? std::to_string(*exitStatus) : "null";
    out += "\n}\n";
    return out;
}

bool RunManifest::Store() {
    problem = file.TryReplace(Text());
    if (problem.empty()) return true;
    // A full disk fails every store alike: one line says so.
    if (!failed) {
        AppCore::ConsolePrintf("Cannot write %s: %s\n", SLib::EscapedControls(file.Path()).c_str(), problem.c_str());
    }
    failed = true;
    return false;
}
