#include "driver/reporting/RunManifest.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "driver/ExitStatus.h"
#include "driver/measuring/CellStatistics.h"
#include "driver/output/CachesJson.h"
#include "driver/output/JsonWriter.h"
#include "driver/output/ResultFiles.h"
#include "driver/output/RunFileList.h"
#include "driver/output/StatsFiles.h"
#include "driver/reporting/RunConditions.h"
#include "driver/sorters/Columns.h"
#include "driver/sorters/Peers.h"
#include "strings/EscapedText.h"
#include "support/DataTypes.h"
#include "support/StatusLine.h"

namespace {

using Layout = JsonWriter::Layout;

constexpr int kFormatVersion = 1;

// The room the run's end may add to the document, held back beside it: a
// failed write of each file the run writes ("file", "reason", "cells": about
// 160 bytes with the longest error text), the -JSON path at its longest
// escaped (six bytes a byte), and the data sets stored after the disk filled
// (a plain data set takes about 200 bytes; -R auto's reference times and the
// columns its verdicts name more).
constexpr std::size_t kFailedWriteBytes = 160;
constexpr std::size_t kEscapedByteBytes = 6;
constexpr std::size_t kLateDataSetsBytes = 8192;

std::size_t EndingRoom(const RunPlan& plan) {
    const std::size_t runFiles =
        RunSeriesFiles(plan.types, plan.distributions, plan.repetition, plan.columns).size() + 1;  // and run.json
    return kLateDataSetsBytes + kFailedWriteBytes * (runFiles + 1) + kEscapedByteBytes * plan.jsonPath.size();
}

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

RunManifest::RunManifest(const RunPlan& plan, const RunDirectory& runDirectory)
    : plan(plan),
      file(runDirectory.Folder(), kManifestFileName, runDirectory.Path() + kManifestFileName),
      reserve(runDirectory.Folder().Descriptor()),
      endingRoom(EndingRoom(plan)) {}

void RunManifest::MeasuringStarted(const MachineFacts& machine, const Fields& limitFields) {
    this->machine = machine;
    parallelPeerThreads = ParallelPeerThreads(machine.onlineCpus);
    limits = limitFields;
    (void)Store();
}

void RunManifest::DataSetRefused(const DataSetRecord& set, const std::string&) {
    dataSets.push_back({set.series,
                        set.typeName,
                        set.distribution,
                        set.count,
                        "refused",
                        0,
                        false,
                        0.0,
                        {},
                        {},
                        std::move(skipped),
                        std::move(verdicts)});
    skipped.clear();
    verdicts = {};
    (void)Store();
}

void RunManifest::DataSetEnded(const DataSetRecord& set, const DataSetEndRecord& end) {
    dataSets.push_back({set.series, set.typeName, set.distribution, set.count, OutcomeName(end.outcome), end.rounds,
                        end.intervalReached, end.seconds, end.referenceMs, end.drift, std::move(skipped),
                        std::move(verdicts)});
    skipped.clear();
    verdicts = {};
    (void)Store();
}

void RunManifest::CellSkipped(const DataSetRecord&, const SkippedCellRecord& cell) {
    skipped.emplace_back(FactsOf(cell.column).name);
}

void RunManifest::CellMeasured(const DataSetRecord&, const CellRecord& cell) {
    const char* name = FactsOf(cell.column).name;
    if (cell.stats.noisy) verdicts.noisy.emplace_back(name);
    if (cell.stats.floorMs && cell.stats.floorRatio)
        verdicts.floors.push_back({name, *cell.stats.floorMs, *cell.stats.floorRatio, cell.stats.floorRatioRange});
    if (cell.stats.floorUnreliable) verdicts.floorUnreliable.emplace_back(name);
    if (!cell.stats.intervalReached.value_or(true)) verdicts.intervalMissed.emplace_back(name);
    // Every cell of a data set shares its drift.
    verdicts.drifted = verdicts.drifted || cell.stats.drifted;
}

bool RunManifest::RunEnded(int status, std::vector<FailedWrite> failed) {
    exitStatus = status;
    failedWrites = std::move(failed);
    // The disk may be full by now: this store gets the room held back for it.
    reserve.Release();
    problem = file.TryReplace(Text());
    if (problem.empty()) return true;
    // The data sets of the last whole store fit the room held back with it;
    // the ending then says that run.json lags, and the run cannot end with 0.
    failedWrites.push_back({kManifestFileName, problem});
    if (status == kExitComplete) exitStatus = kExitIncomplete;
    (void)file.TryReplace(Text(storedDataSets));
    return false;
}

std::string RunManifest::Text(std::size_t dataSetsShown) const {
    std::string out;
    JsonWriter json(out);
    json.OpenObject();
    json.Key("format").String("sortbench run manifest");
    json.Key("format_version").Unsigned(kFormatVersion);
    json.Key("program_version").String(ProgramVersion());
    json.Key("arguments");
    Strings(json, plan.arguments);

    json.Key("plan").OpenObject();
    json.Key("counts").OpenArray(Layout::Inline);
    for (const std::uint64_t count : plan.counts) json.Unsigned(count);
    json.Close();
    std::vector<std::string> names;
    for (const AppCore::DataType type : plan.types) names.emplace_back(AppCore::DataTypeName(type));
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
    // Only a run with -COLUMNS leaves any out; the others' run.json stays as it was.
    if (!plan.leftOut.empty()) {
        names.clear();
        for (const Column column : plan.leftOut) names.emplace_back(FactsOf(column).name);
        json.Key("left_out");
        Strings(json, names);
    }
    json.Key("repetitions").Unsigned(static_cast<std::uint64_t>(plan.repetition.count));
    json.Key("until_sure").Bool(plan.repetition.untilSure);
    json.Key("interval_target").ShortestDouble(plan.repetition.intervalTarget);
    json.Key("budget_seconds").ShortestDouble(plan.repetition.budgetSeconds);
    json.Key("noisy_cv").ShortestDouble(kNoisyCvLimit);
    json.Key("drift_targets").ShortestDouble(kDriftTargets);
    json.Key("gpu").Bool(plan.gpuEnabled);
    json.Key("qa").Bool(plan.qaEnabled);
    json.Key("peers").Bool(plan.peersEnabled);
    if (plan.peersEnabled) {
        json.Key("peer_sorters").OpenArray(Layout::Inline);
        for (const Peer peer : plan.peers) {
            // A peer -COLUMNS leaves out is not timed: "left_out" names it.
            if (std::find(plan.columns.begin(), plan.columns.end(), PeerColumn(peer)) == plan.columns.end()) continue;
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
    json.Key("seed").Unsigned(plan.seed);
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
        json.Key("floor_probes_apart").ShortestDouble(kFloorProbesApart);
    } else {
        json.Null();
    }

    json.Key("files").OpenArray();
    for (const RunSeriesFile& file : RunSeriesFiles(plan.types, plan.distributions, plan.repetition, plan.columns)) {
        json.OpenObject(Layout::Inline);
        json.Key("name").String(RunFileName(file.kind, file.series));
        json.Key("kind").String(FactsOf(file.kind).manifestKind);
        json.Key("series").String(file.series);
        json.Key("type").String(file.typeName);
        json.Key("distribution").String(DistributionName(file.distribution));
        json.Key("header").String(file.header);
        json.Close();
    }
    json.Close();

    json.Key("data_sets").OpenArray();
    for (const DataSetEntry& set : dataSets) {
        if (dataSetsShown-- == 0) break;
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
            json.Key("drifted").Bool(set.verdicts.drifted);
        }
        if (plan.repetition.Repeated()) {
            json.Key("noisy");
            Strings(json, set.verdicts.noisy);
        }
        if (plan.repetition.untilSure) {
            json.Key("interval_missed");
            Strings(json, set.verdicts.intervalMissed);
        }
        if (!set.verdicts.floors.empty()) Floors(json, set.verdicts.floors);
        if (plan.repetition.Repeated()) {
            json.Key("floor_unreliable");
            Strings(json, set.verdicts.floorUnreliable);
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
    // Only when something failed: every other run's document stays as it was.
    if (!failedWrites.empty()) {
        json.Key("failed_writes").OpenArray();
        for (const FailedWrite& failed : failedWrites) {
            json.OpenObject(Layout::Inline);
            json.Key("file").String(failed.file);
            json.Key("reason").String(failed.reason);
            if (failed.cells != 0) json.Key("cells").Unsigned(failed.cells);
            json.Close();
        }
        json.Close();
    }
    json.Close();
    return out + "\n";
}

void RunManifest::Floors(JsonWriter& json, const std::vector<FloorEntry>& floors) {
    json.Key("floors").OpenArray(Layout::Inline);
    for (const FloorEntry& floor : floors) {
        json.OpenObject(Layout::Inline);
        json.Key("column").String(floor.column);
        json.Key("floor_ms").ShortestDouble(floor.floorMs);
        json.Key("ratio").ShortestDouble(floor.ratio);
        json.Key("ratio_range");
        if (floor.range) {
            json.OpenArray(Layout::Inline);
            json.ShortestDouble(floor.range->low);
            json.ShortestDouble(floor.range->high);
            json.Close();
        } else {
            json.Null();
        }
        json.Close();
    }
    json.Close();
}

bool RunManifest::Store() {
    const std::string text = Text();
    problem = file.TryReplace(text);
    // Room for the end: this document again (the old one stays on disk until
    // the new one replaces it) and what the end adds. Taken after the store, so
    // that a nearly full disk still gets a run.json from the start; when the
    // disk refuses, what was held for the last store still covers the ending.
    reserve.Hold(text.size() + endingRoom);
    if (problem.empty()) {
        storedDataSets = dataSets.size();
        return true;
    }
    // A full disk fails every store alike: one line says so.
    if (!failed) {
        AppCore::ConsolePrintf("Cannot write %s: %s\n", SLib::EscapedControls(file.Path()).c_str(), problem.c_str());
    }
    failed = true;
    return false;
}
