#include "driver/reporting/RunManifest.h"

#include <cstdio>

#include "driver/output/CachesJson.h"
#include "driver/output/JsonWriter.h"
#include "driver/output/ResultFiles.h"
#include "driver/output/StatsFiles.h"
#include "driver/reporting/RunConditions.h"
#include "driver/sorters/Peers.h"
#include "strings/EscapedText.h"
#include "support/DataTypes.h"
#include "support/StatusLine.h"

namespace {

using Layout = JsonWriter::Layout;

constexpr int kFormatVersion = 1;

void Strings(JsonWriter& json, const std::vector<std::string>& items) {
    json.OpenArray(Layout::Inline);
    for (const std::string& item : items) json.String(item);
    json.Close();
}

void Machine(JsonWriter& json, const MachineFacts& machine) {
    json.OpenObject();
    json.Key("load_averages").OpenArray(Layout::Inline);
    for (const double load : machine.loadAverages) json.ShortestDouble(load);
    json.Close();
    json.Key("online_cpus").Unsigned(static_cast<std::uint64_t>(std::max(machine.onlineCpus, 0)));
    json.Key("governors");
    Strings(json, machine.governors);
    json.Key("transparent_huge_pages").String(machine.transparentHugePages);
    json.Key("hypervisor");
    if (machine.hypervisor) {
        json.Bool(*machine.hypervisor);
    } else {
        json.Null();
    }
    json.Key("cpu_mhz").Unsigned(static_cast<std::uint64_t>(std::max(machine.cpuMhz, 0L)));
    json.Key("caches");
    WriteCaches(json, machine.caches, Layout::Inline);
    json.Key("host_name").String(machine.hostName);
    json.Close();
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
      file(runDirectory.Folder(), kManifestFileName, runDirectory.Path() + kManifestFileName) {}

void RunManifest::MeasuringStarted(const MachineFacts& machine, const Fields& limitFields) {
    this->machine = machine;
    parallelPeerThreads = ParallelPeerThreads(machine.onlineCpus);
    limits = limitFields;
    (void)Store();
}

void RunManifest::DataSetRefused(const DataSetRecord& set, const std::string&) {
    dataSets.push_back(
        {set.series, set.typeName, set.distribution, set.count, "refused", 0, false, 0.0, {}, {}, std::move(skipped)});
    skipped.clear();
    (void)Store();
}

void RunManifest::DataSetEnded(const DataSetRecord& set, const DataSetEndRecord& end) {
    dataSets.push_back({set.series, set.typeName, set.distribution, set.count, OutcomeName(end.outcome), end.rounds,
                        end.intervalReached, end.seconds, end.referenceMs, end.drift, std::move(skipped)});
    skipped.clear();
    (void)Store();
}

void RunManifest::CellSkipped(const DataSetRecord&, const SkippedCellRecord& cell) {
    skipped.emplace_back(FactsOf(cell.column).name);
}

bool RunManifest::RunEnded(int status) {
    exitStatus = status;
    return Store();
}

std::string RunManifest::Text() const {
    std::string out;
    JsonWriter json(out);
    json.OpenObject();
    json.Key("format").String("sortbench run manifest");
    json.Key("format_version").Unsigned(kFormatVersion);
    json.Key("program_version").String(ProgramVersion());
    json.Key("arguments");
    Strings(json, arguments);

    json.Key("plan").OpenObject();
    json.Key("counts").OpenArray(Layout::Inline);
    for (const std::uint64_t count : plan.counts) json.Unsigned(count);
    json.Close();
    std::vector<std::string> names;
    for (const AppCore::DataTypeFacts& type : AppCore::kDataTypes) names.emplace_back(type.name);
    json.Key("types");
    Strings(json, names);
    names.clear();
    for (const Distribution distribution : plan.distributions) names.emplace_back(DistributionName(distribution));
    json.Key("distributions");
    Strings(json, names);
    names.clear();
    for (const Column column : plan.columns) names.emplace_back(FactsOf(column).name);
    json.Key("columns");
    Strings(json, names);
    json.Key("repetitions").Unsigned(static_cast<std::uint64_t>(plan.repetition.count));
    json.Key("until_sure").Bool(plan.repetition.untilSure);
    json.Key("interval_target").ShortestDouble(plan.repetition.intervalTarget);
    json.Key("budget_seconds").ShortestDouble(plan.repetition.budgetSeconds);
    json.Key("gpu").Bool(plan.gpuEnabled);
    json.Key("qa").Bool(plan.qaEnabled);
    json.Key("peers").Bool(plan.peersEnabled);
    if (plan.peersEnabled) {
        json.Key("peer_sorters").OpenArray(Layout::Inline);
        for (const Peer peer : plan.peers) {
            json.OpenObject(Layout::Inline);
            json.Key("name").String(FactsOf(peer).name);
            json.Key("column").String(FactsOf(peer).column);
            json.Key("threads").Unsigned(PeerThreadCount(peer, parallelPeerThreads));
            json.Close();
        }
        json.Close();
    }
    if (plan.pairsEnabled) {
        json.Key("pairs").Bool(true);
        json.Key("pair_sorters").OpenArray(Layout::Inline);
        for (const Column column : plan.columns) {
            if (FactsOf(column).sorter != ColumnSorter::PairSort) continue;
            json.OpenObject(Layout::Inline);
            json.Key("column").String(FactsOf(column).name);
            json.Key("threads").Unsigned(ColumnThreads(column, parallelPeerThreads));
            json.Close();
        }
        json.Close();
    }
    json.Key("json");
    if (plan.jsonPath.empty()) {
        json.Null();
    } else {
        json.String(plan.jsonPath);
    }
    json.Close();

    json.Key("machine");
    if (machine) {
        Machine(json, *machine);
    } else {
        json.Raw("{}");
    }
    json.Key("limits").OpenObject();
    for (const auto& [key, value] : limits) json.Key(key).String(value);
    json.Close();
    // Floors priced before 2026-12-08 took the fixed probe's sizes and run.json had no such field.
    json.Key("floor_pricing");
    if (plan.repetition.Repeated()) {
        json.String("own sizes");
    } else {
        json.Null();
    }

    json.Key("files").OpenArray();
    const struct {
        RunFileKind kind;
        std::string header;
    } kinds[] = {{RunFileKind::Results, ResultHeader(plan.columns)},
                 {RunFileKind::Stats, StatsFileHeader(plan.repetition.untilSure)},
                 {RunFileKind::Speedups, SpeedupHeader()}};
    for (const auto& kind : kinds) {
        if (!plan.repetition.Repeated() && kind.kind != RunFileKind::Results) continue;
        for (const AppCore::DataTypeFacts& type : AppCore::kDataTypes) {
            for (const Distribution distribution : plan.distributions) {
                const std::string series = SeriesKey(type.name, distribution);
                json.OpenObject(Layout::Inline);
                json.Key("name").String(RunFileName(kind.kind, series));
                json.Key("kind").String(FactsOf(kind.kind).manifestKind);
                json.Key("series").String(series);
                json.Key("type").String(type.name);
                json.Key("distribution").String(DistributionName(distribution));
                json.Key("header").String(kind.header);
                json.Close();
            }
        }
    }
    json.Close();

    json.Key("data_sets").OpenArray();
    for (const DataSetEntry& set : dataSets) {
        json.OpenObject(Layout::Inline);
        json.Key("series").String(set.series);
        json.Key("type").String(set.typeName);
        json.Key("distribution").String(DistributionName(set.distribution));
        json.Key("count").Unsigned(set.count);
        json.Key("outcome").String(set.outcome);
        json.Key("rounds").Unsigned(static_cast<std::uint64_t>(set.rounds));
        json.Key("interval_reached").Bool(set.intervalReached);
        json.Key("seconds").ShortestDouble(set.seconds);
        if (plan.peersEnabled || plan.pairsEnabled) {
            json.Key("skipped");
            Strings(json, set.skipped);
        }
        if (plan.repetition.untilSure) {
            json.Key("reference_ms").OpenArray(Layout::Inline);
            for (const double ms : set.referenceMs) json.ShortestDouble(ms);
            json.Close();
            json.Key("drift");
            if (set.drift) {
                json.ShortestDouble(*set.drift);
            } else {
                json.Null();
            }
        }
        json.Close();
    }
    json.Close();
    json.Key("exit_status");
    if (exitStatus) {
        json.Raw(std::to_string(*exitStatus));
    } else {
        json.Null();
    }
    json.Close();
    return out + "\n";
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
