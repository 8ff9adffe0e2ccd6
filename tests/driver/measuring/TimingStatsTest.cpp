#include "driver/measuring/TimingStats.h"

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/machine/MachineReference.h"
#include "driver/measuring/CellStatistics.h"
#include "driver/measuring/SorterRounds.h"
#include "driver/output/StatsFiles.h"
#include "driver/reporting/CellReportText.h"
#include "strings/SignificantDigits.h"

using SLib::SignificantDigits;

TEST(TimingStats, median_of_odd_even_and_single_counts) {
    const struct {
        std::vector<double> times;
        double median;
    } cases[] = {{{5}, 5}, {{3, 1, 2}, 2}, {{4, 1, 3, 2}, 2.5}, {{9, 2, 4, 4, 7, 5, 5, 4}, 4.5}};
    for (const auto& c : cases) EXPECT_EQ(Summarize(c.times).median, c.median) << c.times.size();
}

TEST(TimingStats, sample_standard_deviation) {
    const struct {
        std::vector<double> times;
        double stdDev;
    } cases[] = {
        {{7}, 0},
        {{2, 4, 4, 4, 5, 5, 7, 9}, std::sqrt(32.0 / 7.0)},
        {{1e9 + 1, 1e9 + 2, 1e9 + 3}, 1},  // large offset must not cancel the spread
    };
    for (const auto& c : cases) EXPECT_NEAR(Summarize(c.times).stdDev, c.stdDev, 1e-9) << c.times.size();
}

TEST(TimingStats, summary_fields_and_caller_order_kept) {
    const std::vector<double> times{3, 1.5, 2.25};
    const TimingSummary s = Summarize(times);
    EXPECT_EQ(times, (std::vector<double>{3, 1.5, 2.25}));
    EXPECT_EQ(s.runs, 3u);
    EXPECT_EQ(s.min, 1.5);
    EXPECT_EQ(s.max, 3);
    EXPECT_EQ(s.mean, 2.25);
    EXPECT_DOUBLE_EQ(s.Cv(), 0.75 / 2.25);
    EXPECT_EQ((TimingSummary{2, 0, 0, 0, 0, 0}.Cv()), 0);
}

TEST(TimingStats, round_order_puts_each_sorter_once_in_each_position) {
    constexpr std::size_t k = 5;
    std::vector<std::set<std::size_t>> seenAt(k);
    for (std::size_t round = 0; round < k; ++round) {
        const std::vector<std::size_t> order = RoundOrder(k, round);
        ASSERT_EQ(order.size(), k);
        EXPECT_EQ(std::set<std::size_t>(order.begin(), order.end()).size(), k) << "round " << round;
        for (std::size_t j = 0; j < k; ++j) seenAt[j].insert(order[j]);
    }
    for (const auto& sorters : seenAt) EXPECT_EQ(sorters.size(), k);
    EXPECT_EQ(RoundOrder(k, 0), (std::vector<std::size_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(RoundOrder(k, 7), (std::vector<std::size_t>{2, 3, 4, 0, 1}));
    EXPECT_TRUE(RoundOrder(0, 3).empty());
}

TEST(TimingStats, significant_digits_in_fixed_notation) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {152.34, "152.3"},       {171.0, "171.0"},
        {0.0031274, "0.003127"}, {1354.2, "1354"},
        {12345, "12345"},        {999.96, "1000"},
        {9.99996, "10.00"},      {0, "0.000"},
        {-2.5, "-2.500"},        {1e20, "100000000000000000000"},
    };
    for (const auto& c : cases) EXPECT_EQ(SignificantDigits(c.value, 4), c.text) << c.value;
}

TEST(TimingStats, spread_suffix_text) {
    EXPECT_EQ(SpreadSuffix({9, 152.34, 161.6, 160, 171.0, 5.44}), " (median of 9, 152.3 \u2026 171.0, cv 3.4%)");
}

// The scripts read a stats row's cells by the names its file's header gives
// them: a header must name every cell a row writes, each once, on one line, and
// each name must sit over the cell that holds what it says.
TEST(TimingStats, stats_header_names_each_cell_of_its_rows) {
    const std::vector<double> times{3, 1.5, 2.25, 2, 2.5, 1.75};
    const TimingSummary summary = Summarize(times);
    const std::vector<double> reference{4, 4.5, 4, 4, 4.25, 4};
    for (const bool untilSure : {false, true}) {
        const std::string header = StatsFileHeader(untilSure);
        const std::string row =
            StatsRow(1000, "CPU 2 Thread", times, summary, untilSure, MedianConfidenceInterval(times)) +
            StatsLimitsCells(
                1000,
                CellStatisticsOf(
                    times,
                    {.intervalTarget = {}, .floorMs = 0.5, .floorSpread = {}, .standardTimes = {}, .drift = {}})) +
            (untilSure ? StatsReferenceCells(reference) : "");
        ASSERT_EQ(header.find('\n'), std::string::npos);
        ASSERT_EQ(row.rfind('\n'), 0u);
        std::vector<std::string> names, cells;
        for (std::string::size_type at = 0, next = 0; next != std::string::npos; at = next + 1) {
            next = header.find(',', at);
            names.push_back(header.substr(at, next - at));
        }
        for (std::string::size_type at = 1, next = 0; next != std::string::npos; at = next + 1) {
            next = row.find(',', at);
            cells.push_back(row.substr(at, next - at));
        }
        ASSERT_EQ(names.size(), cells.size()) << header << row;
        std::map<std::string, std::string> cellOf;
        for (std::size_t i = 0; i < names.size(); ++i)
            EXPECT_TRUE(cellOf.emplace(names[i], cells[i]).second) << names[i] << " named twice";
        const auto interval = MedianConfidenceInterval(times);
        const struct {
            const char* name;
            std::string cell;
        } expected[] = {
            {"NbRecords", "1000"},
            {"Column", "CPU 2 Thread"},
            {"Runs", "6"},
            {"Min", TimeCell(summary.min)},
            {"Median", TimeCell(summary.median)},
            {"Max", TimeCell(summary.max)},
            {"Times", "3;1.5;2.25;2;2.5;1.75"},
            {"FloorMs", "0.5"},
            {"FloorRatio", TimeCell(summary.median / 0.5)},
            {"CiLow", untilSure ? TimeCell(interval->low) : "(none)"},
            {"ReferenceTimes", untilSure ? "4;4.5;4;4;4.25;4" : "(none)"},
        };
        for (const auto& e : expected) {
            const auto found = cellOf.find(e.name);
            EXPECT_EQ(found == cellOf.end() ? std::string("(none)") : found->second, e.cell)
                << e.name << (untilSure ? " with -R auto" : "");
        }
    }
}

TEST(TimingStats, stats_row_text) {
    EXPECT_EQ(StatsRow(3000000000u, "CPU 1 Thread", {3, 1.5, 2.25}, Summarize({3, 1.5, 2.25})),
              "\n3000000000,CPU 1 Thread,3,1.5,2.25,2.25,3,0.75,3;1.5;2.25");
}

TEST(TimingStats, noise_report_lists_only_noisy_cells) {
    const NoisyCell quiet{"FLOAT", 100, "CPU Standard", {.summary = {5, 99, 100, 100, 101, 1}}};
    const NoisyCell atLimit{"INT", 100, "GPU", {.summary = {5, 180, 200, 200, 220, 10}}};
    const NoisyCell noisy{
        "INT", 10000000, "CPU 8 Thread", {.summary = {5, 180.2, 204.1, 200, 241.0, 14.4}, .noisy = true}};

    EXPECT_TRUE(NoiseReportLines({quiet, atLimit}).empty());
    EXPECT_EQ(NoiseReportLines({quiet, noisy, atLimit}),
              (std::vector<std::string>{"Noisy cells (coefficient of variation above 5%):",
                                        "  INT 10000000 CPU 8 Thread: cv 7.2% (median 204.1 ms, 180.2 \u2026 241.0)",
                                        "Close other programs or raise -R for steadier medians."}));
}

TEST(TimingStats, memory_floor_cells_note_and_report) {
    const auto floored = [](double median, std::optional<double> floorMs) {
        return CellStatisticsOf(
            {median}, {.intervalTarget = {}, .floorMs = floorMs, .floorSpread = {}, .standardTimes = {}, .drift = {}});
    };
    EXPECT_EQ(StatsLimitsCells(20000, floored(2.5, 2.0)), ",8000000,2,1.25");
    EXPECT_EQ(StatsLimitsCells(20000, floored(2.5, std::nullopt)), ",8000000,,");
    EXPECT_EQ(StatsLimitsCells(20000, floored(0.0, std::nullopt)), ",,,");
    EXPECT_EQ(SpreadSuffix({9, 152.34, 161.6, 160, 171.0, 5.44}, FloorNote(161.6 / 115.0)),
              " (median of 9, 152.3 \u2026 171.0, cv 3.4%, 1.4\u00d7 its memory floor)");
    EXPECT_EQ(SureSpreadSuffix({3, 1, 2, 2, 3, 1}, std::nullopt, FloorNote(2.0)),
              " (median of 3, 1.000 \u2026 3.000, cv 50.0%, no 95% CI below 6 runs, 2.0\u00d7 its memory floor)");

    const NoisyCell above{"INT", 100, "CPU 1 Thread", floored(100, 99.5)};
    const NoisyCell below{"INT", 10000000, "CPU 1 Thread", floored(150.2, 171.0)};
    const NoisyCell without{"INT", 10, "CPU Standard", floored(0.1, std::nullopt)};
    EXPECT_TRUE(BelowFloorReportLines({above, without}).empty());
    EXPECT_EQ(
        BelowFloorReportLines({above, below, without}),
        (std::vector<std::string>{"Cells measured below their memory floor, which no sort can beat:",
                                  "  INT 10000000 CPU 1 Thread: median 150.2 ms, floor 171.0 ms (0.88\u00d7)",
                                  "The floor's model does not hold for these cells: their ratios to it say nothing."}));
}

TEST(TimingStats, an_unreliable_floor_adds_one_line_and_only_then) {
    const auto spread = [](double highestMs) {
        return CellStatisticsOf({20.0}, {.intervalTarget = {},
                                         .floorMs = 9.0,
                                         .floorSpread = FloorSpread{.lowestMs = 10.0, .highestMs = highestMs},
                                         .standardTimes = {},
                                         .drift = {}});
    };
    const NoisyCell atFactor{"INT", 1000000, "CPU 1 Thread", spread(13.0)};
    const NoisyCell beyond{"FLOAT", 1000000, "CPU 1 Thread", spread(13.01)};
    EXPECT_FALSE(atFactor.stats.floorUnreliable);
    EXPECT_EQ(UnreliableFloorsLine({atFactor}), "");
    EXPECT_EQ(UnreliableFloorsLine({atFactor, beyond, beyond}),
              "Note: the memory floors of 2 cells could not be priced reliably: the probes around their rounds priced "
              "them more than 1.3\u00d7 apart (floor_unreliable in run.json)");
    EXPECT_EQ(UnreliableFloorsLine({beyond}),
              "Note: the memory floor of 1 cell could not be priced reliably: the probes around its rounds priced it "
              "more than 1.3\u00d7 apart (floor_unreliable in run.json)");
    EXPECT_NEAR(beyond.stats.floorRatioRange->low, 20.0 / 13.01, 1e-12);
    EXPECT_NEAR(beyond.stats.floorRatioRange->high, 2.0, 1e-12);
}

TEST(TimingStats, interval_report_tells_a_drifting_machine_from_a_noisy_cell) {
    const TimingSummary steady{6, 99, 100, 100, 101, 1};
    // The verdicts as a target of ±1% gives them.
    const auto cell = [&](const char* column, std::uint64_t count, std::optional<MedianInterval> interval,
                          double drift) {
        CellStatistics stats{.summary = steady, .interval = interval};
        if (interval) stats.halfWidth = RelativeHalfWidth(*interval, steady.median);
        stats.intervalReached = IntervalWithin(interval, steady.median, 0.01);
        stats.drift = drift;
        stats.drifted = drift > 0.02;
        return NoisyCell{"INT", count, column, stats};
    };
    const NoisyCell met = cell("CPU Standard", 1000, MedianInterval{99.5, 100.5}, 0.01);
    const NoisyCell missed = cell("CPU 1 Thread", 1000, MedianInterval{95, 105}, 0.01);
    const NoisyCell driftedMissed = cell("CPU Standard", 10000000, std::nullopt, 0.31);
    const NoisyCell driftedMet = cell("CPU 1 Thread", 10000000, MedianInterval{99.5, 100.5}, 0.31);
    const std::string driftHeader =
        "Data sets during which the machine's own speed moved more than \u00b11% (the machine reference's best time in "
        "its later rounds against its earlier ones):";
    const std::string driftHint =
        "These medians may not repeat: other work on the machine or CPU frequency scaling moved its speed. Close other "
        "programs, fix the CPU's frequency, or raise -T.";
    EXPECT_EQ(IntervalReportLines({met, missed, driftedMissed, driftedMet}, 0.01),
              (std::vector<std::string>{
                  "Cells whose 95% interval is wider than \u00b11% of the median:",
                  "  INT 1000 CPU 1 Thread: median 100.0 ms, 95% CI 95.00 \u2026 105.0 (\u00b15.0%)",
                  "Close other programs, or raise -T for these data sets, for narrower intervals.", driftHeader,
                  "  INT 10000000: the machine's speed drifted 31.0%, 1 cell missed \u00b11%", driftHint}));
    // Every interval met, yet the machine drifted: the medians may still not repeat.
    EXPECT_EQ(IntervalReportLines({met, driftedMet}, 0.01),
              (std::vector<std::string>{"Every cell's 95% interval is within \u00b11% of its median.", driftHeader,
                                        "  INT 10000000: the machine's speed drifted 31.0%, 0 cells missed \u00b11%",
                                        driftHint}));
}

TEST(TimingStats, drift_compares_the_halves_of_the_rounds_not_their_extremes) {
    const struct {
        std::vector<double> referenceMs;
        double drift;
    } cases[] = {
        {{}, 0.0},
        {{3.0}, 0.0},
        {{2.0, 3.0}, 0.5},
        {{2.0, 9.0, 2.0, 2.0, 2.0, 2.0}, 0.0},  // one slow round is no drift
        {{2.0, 9.0, 9.0, 2.0, 9.0, 9.0}, 0.0},
        {{2.0, 2.0, 2.0, 7.0, 3.0, 3.0, 3.0}, 0.5},
        {{4.0, 4.0, 2.0, 2.0}, 0.5},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(ReferenceDrift(c.referenceMs), c.drift) << c.referenceMs.size();
}
