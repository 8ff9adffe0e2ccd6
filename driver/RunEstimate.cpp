#include "driver/RunEstimate.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "driver/ExitStatus.h"
#include "driver/measuring/RunProgress.h"
#include "driver/reporting/ProgressLine.h"
#include "support/DataTypes.h"
#include "support/SecondsSince.h"

namespace {

using AppCore::DataType;

// One sort per column cannot see the machine's speed move, and on shared
// machines it moves by up to 30% within minutes: the estimate allows for that.
// It is no bound: load that arrives after the pilot has slowed a run to 1.42
// times its estimate.
constexpr double kEstimateDriftMargin = 1.3;
// The least count of the standard ladder: its sorts are all fixed cost.
constexpr std::uint64_t kFixedCostRecords = 100;
// Big enough to leave the caches, as the large data sets do.
constexpr std::uint64_t kPilotRecords = 4'000'000;

}  // namespace

int EstimateRun(const RunPlan& plan, DataSetLoop& loop, MachineReference* reference, OwnSizeProbes& ownSizeProbes,
                double manifestStoreMs, RunReporters& reporters) {
    const std::uint64_t count = std::min(kPilotRecords, *std::max_element(plan.counts.begin(), plan.counts.end()));
    Outcome outcome = Outcome::Continue;
    // The narrowest and widest of the types run (plan.types is in table order, narrow first).
    const DataType narrowType = plan.types.front();
    const DataType wideType = plan.types.back();
    std::optional<DataSetLoop::PilotTimes> narrow = loop.Pilot(narrowType, count, outcome);
    if (outcome != Outcome::Continue) return ExitStatusOf(outcome);
    std::optional<DataSetLoop::PilotTimes> wide = narrow;
    if (wideType != narrowType) wide = loop.Pilot(wideType, count, outcome);
    if (outcome != Outcome::Continue) return ExitStatusOf(outcome);
    // Without the pilot's times the run goes on unestimated; the first data
    // set meets the same shortage and says so.
    // Sorts of a few records cost what every sort pays, whatever its size: starting threads above all.
    std::optional<DataSetLoop::PilotTimes> tiny = loop.Pilot(wideType, kFixedCostRecords, outcome);
    if (outcome != Outcome::Continue) return ExitStatusOf(outcome);
    if (!narrow || !wide || !tiny) return kExitComplete;
    for (std::size_t column = 0; column < narrow->ms.size(); ++column)
        narrow->ms[column] = std::max(narrow->ms[column], wide->ms[column]);
    // The reference's whole call: it keeps the best of its timings, but every round pays for all of them.
    const std::chrono::steady_clock::time_point referenceStarted = std::chrono::steady_clock::now();
    if (reference) (void)reference->TimeMs();
    const double referenceMs = reference ? AppCore::SecondsSince(referenceStarted) * 1000.0 : 0.0;
    const std::string typeNames = wideType == narrowType ? AppCore::DataTypeName(narrowType)
                                                         : std::string(AppCore::DataTypeName(narrowType)) + " and " +
                                                               AppCore::DataTypeName(wideType);
    RunEstimateRecord estimate{.typeName = typeNames,
                               .pilotCount = count,
                               .roundOverheadMs = referenceMs,
                               .setupMs = std::max(narrow->setupMs, wide->setupMs),
                               .dataSetOverheadMs = manifestStoreMs,
                               .pilotMs = narrow->ms,
                               .fixedMs = tiny->ms,
                               .seconds = 0.0};
    const OwnSizeProbes::Estimate probes =
        ownSizeProbes.EstimateFor(plan.counts, plan.distributions, plan.types.size(), count);
    estimate.probeMsPerRecord = probes.msPerRecord;
    estimate.probingDataSets = probes.probingDataSets;
    RunProgress model = ProgressModel(plan);
    LearnFromPilot(model, estimate);
    // Before any data set shows how soon its intervals close, each is
    // taken to run to its budget or its six rounds, whichever is longer:
    // small data sets often do, and the estimate is then an upper one.
    model.RoundsTaken(plan.repetition.count);
    estimate.seconds = model.SecondsLeft(0.0).value_or(0.0) * kEstimateDriftMargin;
    reporters.RunEstimated(estimate);
    return kExitComplete;
}
