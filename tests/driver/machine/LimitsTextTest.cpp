#include "driver/machine/LimitsText.h"

#include <clocale>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "strings/SignificantDigits.h"

namespace {

using SLib::ThreeSignificantDigits;

// Compact: one row a line or two, wrapped by hand.
// clang-format off
CpuLimits TwoSizes(unsigned cpus) {
    CpuLimits limits;
    limits.cpus = cpus;
    limits.repeats = 3;
    limits.arrays = {
        {.arrayBytes = 1 << 20,
         .oneThread = {.copyBytes = 37.24e9, .loads4 = 780.2e6, .loads8 = 694.9e6, .stores256 = 1403.7e6,
                       .stores65536 = 999.6e6, .moves4 = 500e6, .moves8 = 250e6},
         .allCpus = {.copyBytes = 60.06e9, .loads4 = 1497e6, .loads8 = 1240e6, .stores256 = 2800e6,
                     .stores65536 = 1000e6, .moves4 = 990e6, .moves8 = 480e6}},
        {.arrayBytes = 4'000'000,
         .oneThread = {.copyBytes = 14.2e9, .loads4 = 121.4e6, .loads8 = 95.56e6, .stores256 = 318e6,
                       .stores65536 = 92.4e6, .moves4 = 80.1e6, .moves8 = 55.56e6},
         .allCpus = {.copyBytes = 21.0e9, .loads4 = 230e6, .loads8 = 180e6, .stores256 = 600e6,
                     .stores65536 = 170e6, .moves4 = 150e6, .moves8 = 101e6}},
    };
    return limits;
}
// clang-format on

struct DigitsCase {
    double value;
    const char* text;
};

const DigitsCase kDigitsCases[] = {
    {1403.7, "1400"}, {780.2, "780"},     {14.23, "14.2"},     {0.5, "0.500"},  {999.6, "1000"},
    {9.996, "10.0"},  {123456, "123000"}, {0.01234, "0.0123"}, {-2.5, "-2.50"}, {0, "0"},
};

TEST(LimitsText, three_significant_digits_without_an_exponent) {
    for (const DigitsCase& c : kDigitsCases) EXPECT_EQ(ThreeSignificantDigits(c.value), c.text) << c.value;
}

TEST(LimitsText, one_line_of_sizes_and_one_per_figure_whatever_the_locale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    (void)std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const std::vector<std::string> lines = LimitsLines(TwoSizes(2));
    (void)std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Limits: best of 3, 1 thread/2 threads, for index arrays of 1 MiB, 3.81 MiB",
                         "Limits: sequential copy (GB/s read + written): 37.2/60.1, 14.2/21.0",
                         "Limits: random 4-byte loads (M/s): 780/1500, 121/230",
                         "Limits: random 8-byte loads (M/s): 695/1240, 95.6/180",
                         "Limits: 4-byte stores into 256 fronts (M/s): 1400/2800, 318/600",
                         "Limits: 4-byte stores into 65536 fronts (M/s): 1000/1000, 92.4/170",
                         "Limits: moves, 4-byte keys into 256 fronts (M/s): 500/990, 80.1/150",
                         "Limits: moves, 8-byte keys into 65536 fronts (M/s): 250/480, 55.6/101",
                     }));
}

TEST(LimitsText, one_cpu_gives_one_figure_per_size) {
    const std::vector<std::string> lines = LimitsLines(TwoSizes(1));
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[0], "Limits: best of 3, 1 thread, for index arrays of 1 MiB, 3.81 MiB");
    EXPECT_EQ(lines[2], "Limits: random 4-byte loads (M/s): 780, 121");
}

TEST(LimitsText, limits_says_in_one_line_how_a_run_prices_its_data_sets) {
    EXPECT_EQ(OwnSizePricingLine(1 << 20),
              "Limits: a run prices each data set at its own array sizes, probed around "
              "its sorts (index arrays of 1 MiB or more)");
}

TEST(LimitsText, the_closing_line_gives_the_own_size_probes_share_of_the_run_whatever_the_locale) {
    std::vector<DataSetLimits> probes(5);
    probes[0].records = 1'000'000;
    probes[0].seconds = 0.3;
    probes[1].records = 10'000'000;
    probes[1].seconds = 1.0;
    probes[2].records = 100'000'000;
    probes[2].skipped = "needs 1530 MiB of memory, 900 MiB available";
    // A count probed again after its data sets' rounds is one count, its time added up, its reason given once.
    probes[3] = probes[0];
    probes[3].seconds = 0.1;
    probes[4] = probes[2];
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    (void)std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    const std::string line = OwnSizeProbesLine(probes, 200.0);
    (void)std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(line,
              "Limits: data sets priced at their own sizes, probed for 2 record counts in 1.40 s, 0.7% of the run's "
              "200.0 s; not for 100000000 records: needs 1530 MiB of memory, 900 MiB available");
    EXPECT_EQ(
        OwnSizeProbesLine({}, 0.4),
        "Limits: data sets priced at their own sizes, probed for 0 record counts in 0.00 s, 0.0% of the run's 0.4 s");
}

TEST(LimitsText, skipped_limits_are_one_line_and_one_field) {
    CpuLimits skipped;
    skipped.skipped = "needs 209 MiB of memory, 100 MiB available";
    EXPECT_EQ(LimitsLines(skipped),
              (std::vector<std::string>{"Limits: not measured: needs 209 MiB of memory, 100 MiB available"}));
    EXPECT_EQ(LimitsContextFields(skipped), (std::vector<std::pair<std::string, std::string>>{
                                                {"limits", "skipped: needs 209 MiB of memory, 100 MiB available"}}));
}

TEST(LimitsText, context_fields_name_figure_size_and_threads_with_whole_numbers_per_second) {
    const std::vector<std::pair<std::string, std::string>> fields = LimitsContextFields(TwoSizes(2));
    ASSERT_EQ(fields.size(), 3u + 2 * 7 * 2);
    EXPECT_EQ(fields[0], (std::pair<std::string, std::string>{"limits", "measured"}));
    EXPECT_EQ(fields[1], (std::pair<std::string, std::string>{"limits_cpus", "2"}));
    EXPECT_EQ(fields[2], (std::pair<std::string, std::string>{"limits_repeats", "3"}));
    EXPECT_EQ(fields[3], (std::pair<std::string, std::string>{"limits_copy_bytes_per_second_1MiB_1t", "37240000000"}));
    EXPECT_EQ(fields[4], (std::pair<std::string, std::string>{"limits_copy_bytes_per_second_1MiB_2t", "60060000000"}));
    EXPECT_EQ(fields[5], (std::pair<std::string, std::string>{"limits_loads4_per_second_1MiB_1t", "780200000"}));
    EXPECT_EQ(fields.back(),
              (std::pair<std::string, std::string>{"limits_moves8_per_second_4000000B_2t", "101000000"}));
}

using Fields = std::vector<std::pair<std::string, std::string>>;

struct GpuTextCase {
    GpuLimits limits;
    const char* line;
    Fields fields;
};

TEST(LimitsText, gpu_limits_are_one_line_and_whole_numbers_per_second) {
    const GpuTextCase cases[] = {
        {{.skipped = "",
          .device = "Radeon RX 7900 XTX",
          .bufferBytes = 64 << 20,
          .repeats = 3,
          .copyBytes = 412.4e9,
          .uploadBytes = 12.06e9,
          .readBackBytes = 11.84e9},
         "Limits: GPU Radeon RX 7900 XTX: device copy 412 GB/s read + written, upload 12.1 GB/s, read-back 11.8 GB/s "
         "(buffers of 64 MiB, best of 3)",
         {{"gpu_limits", "measured"},
          {"gpu_limits_device", "Radeon RX 7900 XTX"},
          {"gpu_limits_buffer_bytes", "67108864"},
          {"gpu_limits_repeats", "3"},
          {"gpu_limits_copy_bytes_per_second", "412400000000"},
          {"gpu_limits_upload_bytes_per_second", "12060000000"},
          {"gpu_limits_read_back_bytes_per_second", "11840000000"}}},
        {{.skipped = "the compute queue has no timestamps",
          .device = "llvmpipe",
          .bufferBytes = 0,
          .repeats = 0,
          .copyBytes = 0,
          .uploadBytes = 0,
          .readBackBytes = 0},
         "Limits: GPU not measured: the compute queue has no timestamps",
         {{"gpu_limits", "skipped: the compute queue has no timestamps"}}},
        // A record nobody filled is not taken for a measurement.
        {{}, "Limits: GPU not measured: not probed", {{"gpu_limits", "skipped: not probed"}}},
    };
    for (const GpuTextCase& c : cases) {
        EXPECT_EQ(GpuLimitsLines(c.limits), std::vector<std::string>{c.line});
        EXPECT_EQ(GpuLimitsContextFields(c.limits), c.fields);
    }
}

}  // namespace
