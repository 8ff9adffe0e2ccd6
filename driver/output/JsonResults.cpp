#include "driver/output/JsonResults.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <utility>

#include "driver/measuring/CellStatistics.h"
#include "driver/output/CachesJson.h"
#include "driver/output/JsonText.h"
#include "driver/output/JsonWriter.h"

namespace {

std::atomic<const JsonResults*> active{nullptr};

constexpr std::string_view kCloser = "\n  ]\n}\n";

// "2024-05-01T13:45:10+02:00": strftime's %z lacks the colon.
std::string LocalDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    if (length < 5) return std::string(text, length);
    // Built by append: std::string::insert trips a false -Wrestrict in GCC 12.
    std::string date(text, length - 2);
    date += ':';
    date.append(text + length - 2, 2);
    return date;
}

// The document up to its open list of entries: the context, then "benchmarks": [.
std::string Head(const std::string& executable, const MachineFacts& machine,
                 const JsonResults::ContextFields& context) {
    using Layout = JsonWriter::Layout;
    std::string out;
    JsonWriter json(out);
    json.OpenObject();
    json.Key("context").OpenObject();
    json.Key("date").String(LocalDate());
    json.Key("host_name").String(machine.hostName);
    json.Key("executable").String(executable);
    json.Key("num_cpus").Unsigned(static_cast<std::uint64_t>(std::max(machine.onlineCpus, 1)));
    json.Key("mhz_per_cpu").Unsigned(static_cast<std::uint64_t>(std::max(machine.cpuMhz, 0L)));
    json.Key("cpu_scaling_enabled").Bool(machine.FrequencyScaling());
    json.Key("caches");
    WriteCaches(json, machine.caches, Layout::Lines);
    json.Key("load_avg").OpenArray(Layout::Inline, ",");
    for (const double figure : machine.loadAverages) json.Double(figure, std::chars_format::general, 6);
    json.Close();
    for (const auto& [key, value] : context) json.Key(key).String(value);
#ifdef NDEBUG
    json.Key("library_build_type").String("release");
#else
    json.Key("library_build_type").String("debug");
#endif
    json.Close();
    json.Key("benchmarks").OpenArray();
    return out;
}

}  // namespace

JsonResults::JsonResults(const std::string& outputPath, const std::string& executable, std::size_t repetitions,
                         const MachineFacts& machine, bool medianIntervals, const ContextFields& context)
    : JsonResults(ReplacedFile(outputPath), executable, repetitions, machine, medianIntervals, context) {}

JsonResults::JsonResults(ReplacedFile claimed, const std::string& executable, std::size_t repetitions,
                         const MachineFacts& machine, bool medianIntervals, const ContextFields& context)
    : file(std::move(claimed)), repetitions(repetitions), medianIntervals(medianIntervals) {
    documents[0] = Head(executable, machine, context);
    documents[0] += kCloser;
    documents[1] = documents[0];
    active.store(this);
}

JsonResults::~JsonResults() {
    const JsonResults* self = this;
    (void)active.compare_exchange_strong(self, nullptr);
}

std::string JsonResults::EntriesFor(const std::string& dataType, const std::string& column, std::uint64_t count,
                                    const std::vector<double>& timesMs, const CellStatistics& cell,
                                    const std::vector<double>& referenceMs) {
    const TimingSummary& times = cell.summary;
    const std::string familyName = dataType + "/" + column;
    const auto family = families.try_emplace(familyName, static_cast<int>(families.size())).first->second;
    if (static_cast<std::size_t>(family) == instancesPerFamily.size()) instancesPerFamily.push_back(0);
    const auto [slot, isNew] = instances.try_emplace({family, count}, instancesPerFamily[family]);
    if (isNew) ++instancesPerFamily[family];
    const int instance = slot->second;

    // Rounds that aim at an interval end when it is reached: each cell has its own count.
    const std::size_t cellRepetitions = medianIntervals ? timesMs.size() : repetitions;
    static const std::optional<MedianInterval> kNoInterval;
    const std::optional<MedianInterval>& interval = medianIntervals ? cell.interval : kNoInterval;
    const std::string name = familyName + "/" + std::to_string(count);
    std::string out;
    // The entries go on in the document's open list.
    JsonWriter json(out);
    json.Resume('}', JsonWriter::Layout::Lines, true);
    json.Resume(']', JsonWriter::Layout::Lines, hasEntries);
    hasEntries = true;
    auto beginEntry = [&](const std::string& entryName, const char* runType) {
        json.OpenObject();
        json.Key("name").String(entryName);
        json.Key("family_index").Unsigned(static_cast<std::uint64_t>(family));
        json.Key("per_family_instance_index").Unsigned(static_cast<std::uint64_t>(instance));
        json.Key("run_name").String(name);
        json.Key("run_type").String(runType);
        json.Key("repetitions").Unsigned(static_cast<std::uint64_t>(cellRepetitions));
    };
    // User counters, as Google Benchmark writes them; those that are times in
    // milliseconds, like the entries' times.
    auto endEntry = [&](std::uint64_t iterations, double ms, double itemsPerSecond,
                        const std::vector<std::pair<const char*, double>>& counters = {}) {
        json.Key("iterations").Unsigned(iterations);
        json.Key("real_time").Double(ms);
        json.Key("cpu_time").Double(ms);
        json.Key("time_unit").String("ms");
        json.Key("items_per_second").Double(itemsPerSecond);
        for (const auto& [counter, value] : counters) json.Key(counter).Double(value);
        json.Close();
    };

    std::vector<double> rates;
    for (std::size_t i = 0; i < timesMs.size(); ++i) {
        rates.push_back(static_cast<double>(count) / (timesMs[i] / 1000.0));
        beginEntry(name, "iteration");
        json.Key("repetition_index").Unsigned(static_cast<std::uint64_t>(i));
        json.Key("threads").Unsigned(1);
        if (i < referenceMs.size()) {
            endEntry(1, timesMs[i], rates.back(), {{"ReferenceMs", referenceMs[i]}});
        } else {
            endEntry(1, timesMs[i], rates.back());
        }
    }
    if (cellRepetitions > 1) {
        const TimingSummary perSecond = Summarize(rates);
        const struct {
            const char* name;
            double ms, itemsPerSecond;
        } aggregates[] = {{"mean", times.mean, perSecond.mean},
                          {"median", times.median, perSecond.median},
                          {"stddev", times.stdDev, perSecond.stdDev}};
        for (const auto& aggregate : aggregates) {
            beginEntry(name + "_" + aggregate.name, "aggregate");
            json.Key("threads").Unsigned(1);
            json.Key("aggregate_name").String(aggregate.name);
            json.Key("aggregate_unit").String("time");
            std::vector<std::pair<const char*, double>> counters;
            if (std::string_view(aggregate.name) == "median") {
                if (interval) counters = {{"CiLow", interval->low}, {"CiHigh", interval->high}};
                if (cell.floorMs && cell.floorRatio) {
                    counters.emplace_back("MemoryFloor", *cell.floorMs);
                    counters.emplace_back("FloorRatio", *cell.floorRatio);
                }
            }
            endEntry(timesMs.size(), aggregate.ms, aggregate.itemsPerSecond, counters);
        }
    }
    return out;
}

void JsonResults::Add(const std::string& dataType, const std::string& column, std::uint64_t count,
                      const std::vector<double>& timesMs, std::optional<double> floorMs) {
    if (timesMs.empty()) return;
    Add(dataType, column, count, timesMs,
        CellStatisticsOf(timesMs, {.intervalTarget = std::nullopt,
                                   .floorMs = floorMs,
                                   .floorSpread = std::nullopt,
                                   .standardTimes = std::nullopt,
                                   .drift = std::nullopt}));
}

void JsonResults::Add(const std::string& dataType, const std::string& column, std::uint64_t count,
                      const std::vector<double>& timesMs, const CellStatistics& cell,
                      const std::vector<double>& referenceMs) {
    if (timesMs.empty()) return;
    const std::string entries = EntriesFor(dataType, column, count, timesMs, cell, referenceMs);
    // The published rendering stays untouched until the other one is complete, so
    // a signal arriving in between still finds a whole document.
    const int next = 1 - published.load();
    std::string& document = documents[next];
    document.resize(document.size() - kCloser.size());
    document += behind;
    document += entries;
    document += kCloser;
    published.store(next);
    entriesPublished.store(true);
    behind = entries;
}

const std::string& JsonResults::Text() const { return documents[published.load()]; }

bool JsonResults::HasEntries() const { return entriesPublished.load(); }

bool JsonResults::Write() const { return file.Replace(Text()); }

std::string JsonResults::TryWrite() const { return file.TryReplace(Text()); }

bool JsonResults::CanWrite(const std::string& outputPath) { return ReplacedFile::Claim(outputPath).has_value(); }

void JsonResults::WriteFromSignalHandler() {
    const JsonResults* results = active.load();
    // Before the first cell there is nothing to keep, and an earlier run's file
    // at the path is worth more than an empty list.
    if (results == nullptr || !results->entriesPublished.load()) return;
    const std::string& document = results->documents[results->published.load()];
    results->file.ReplaceFromSignalHandler(document.data(), document.size());
}
