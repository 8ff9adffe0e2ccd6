#include "driver/command_line/RunPlan.h"

#include <ctime>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/command_line/CountLists.h"
#include "driver/command_line/UsageText.h"
#include "driver/measuring/TestData.h"

namespace {

RunPlan Parse(std::initializer_list<const char*> args, const char* program = "/opt/sb/sortbench") {
    std::vector<const char*> argv{program};
    argv.insert(argv.end(), args);
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), "261207081500", "/logs/");
}

const std::vector<std::uint64_t> kMinList{100, 250, 500, 750, 1000};

}  // namespace

TEST(RunPlan, empty_command_line_runs_the_standard_ladder_on_the_cpu) {
    const RunPlan plan = Parse({});
    EXPECT_EQ(plan.counts, StandardLadder());
    ASSERT_EQ(plan.counts.size(), 25u);
    EXPECT_EQ(plan.counts.front(), 100u);
    EXPECT_EQ(plan.counts.back(), 100000000u);
    EXPECT_FALSE(plan.gpuEnabled);
    EXPECT_FALSE(plan.qaEnabled);
    EXPECT_FALSE(plan.infoOnly);
    EXPECT_EQ(ResultHeader(plan.columns), "NbRecords,CPU Standard,CPU 1 Thread,CPU 2 Thread,CPU 4 Thread,CPU 8 Thread");
    EXPECT_EQ(plan.RunPath(), "/logs/cpu_261207081500/");
}

TEST(RunPlan, gpu_switch_adds_columns_and_names_the_run_directory) {
    const RunPlan plan = Parse({"-min", "-GPU", "-1B"});
    EXPECT_EQ(plan.counts, kMinList);
    EXPECT_TRUE(plan.gpuEnabled);
    EXPECT_EQ(
        ResultHeader(plan.columns),
        "NbRecords,CPU Standard,CPU 1 Thread,CPU 2 Thread,CPU 4 Thread,CPU 8 Thread,GPU,GPU On Card,GPU Transfer");
    EXPECT_EQ(plan.RunPath(), "/logs/cpu_gpu_261207081500/");
    EXPECT_TRUE(Parse({"-gpu"}).gpuEnabled);
}

TEST(RunPlan, only_exact_spellings_are_options) {
    const RunPlan plan = Parse({"-Gpu", "-qa", "-info", "-1b", "-Min", "GPU", "-GPU ", "-100k"});
    EXPECT_FALSE(plan.gpuEnabled);
    EXPECT_FALSE(plan.qaEnabled);
    EXPECT_FALSE(plan.infoOnly);
    EXPECT_EQ(plan.counts, StandardLadder());
    EXPECT_TRUE(Parse({"-QA"}).qaEnabled);
    EXPECT_TRUE(Parse({"-INFO"}).infoOnly);
}

TEST(RunPlan, count_presets_resolve_by_rank_not_by_order) {
    const auto& ladder = StandardLadder();
    EXPECT_EQ(Parse({"-100K", "-10M"}).counts, std::vector<std::uint64_t>(ladder.begin(), ladder.begin() + 21));
    EXPECT_EQ(Parse({"-10M", "-100K"}).counts.size(), 21u);
    EXPECT_EQ(Parse({"-1M"}).counts.size(), 17u);
    EXPECT_EQ(Parse({"-1M"}).counts.back(), 1000000u);
    EXPECT_EQ(Parse({"-100K"}).counts.back(), 100000u);
    EXPECT_EQ(Parse({"-100M"}).counts, ladder);
    const RunPlan billion = Parse({"-1B", "-500M"});
    ASSERT_EQ(billion.counts.size(), 29u);
    EXPECT_EQ(billion.counts[25], 250000000u);
    EXPECT_EQ(billion.counts[28], 1000000000u);
    EXPECT_EQ(Parse({"-500M"}).counts.size(), 27u);
    EXPECT_EQ(Parse({"-1B", "-S500M"}).counts, std::vector<std::uint64_t>{500000000});
    EXPECT_EQ(Parse({"-S500M", "-S750M"}).counts, std::vector<std::uint64_t>{750000000});
    EXPECT_EQ(Parse({"-S750M", "-S1B"}).counts, std::vector<std::uint64_t>{1000000000});
    EXPECT_EQ(Parse({"-S1B", "-MIN"}).counts, kMinList);
}

TEST(RunPlan, custom_count_takes_the_next_numeric_argument) {
    using Counts = std::vector<std::uint64_t>;
    EXPECT_EQ(Parse({"-S", "5000", "-S", "7000"}).counts, Counts{7000});
    EXPECT_EQ(Parse({"-S", "5000", "-1M"}).counts.size(), 17u);
    EXPECT_EQ(Parse({"-s", "+250"}).counts, Counts{250});
    EXPECT_EQ(Parse({"-S", "1.9"}).counts, Counts{1});
    EXPECT_EQ(Parse({"-S", "0"}).counts, StandardLadder());
    EXPECT_EQ(Parse({"-S", "-."}).counts, StandardLadder());
    EXPECT_EQ(Parse({"-S", "-0"}).counts, StandardLadder());
    EXPECT_EQ(Parse({"-S", "18446744073709551615"}).counts, Counts{18446744073709551615u});
    EXPECT_EQ(Parse({"-S"}).counts, StandardLadder());
}

TEST(RunPlan, counts_past_64_bits_or_below_zero_are_refused_not_wrapped) {
    const struct {
        const char* value;
        const char* problem;
    } cases[] = {
        {"18446744073709551616", "-S 18446744073709551616: the record count is larger than 18446744073709551615"},
        {"18446744073709551716", "larger than 18446744073709551615"},
        {"99999999999999999999.5", "larger than 18446744073709551615"},
        {"-1", "-S -1: a negative record count wraps around to 18446744073709551615, more than the 4294967295"},
        {"-99999999999999999999", "larger than 18446744073709551615"},
    };
    for (const auto& c : cases) {
        const RunPlan plan = Parse({"-S", c.value, "-MIN"});
        EXPECT_NE(plan.error.find(c.problem), std::string::npos) << c.value << ": " << plan.error;
    }
}

TEST(RunPlan, non_numeric_value_after_S_is_refused_and_an_option_after_it_still_counts) {
    const RunPlan plan = Parse({"-S", "abc", "-GPU"});
    EXPECT_EQ(plan.error, "-S takes a record count, not abc");
    EXPECT_TRUE(plan.warnings.empty()) << "abc is not also an unknown argument";
    EXPECT_TRUE(plan.gpuEnabled);
    const RunPlan missing = Parse({"-S", "-MIN"});
    EXPECT_EQ(missing.error, "-S needs a record count after it");
    EXPECT_EQ(missing.counts, kMinList);
}

TEST(RunPlan, shader_path_sits_beside_the_program) {
    EXPECT_EQ(Parse({}, "/opt/sb/sortbench").shaderPath, "/opt/sb/Shaders");
    EXPECT_EQ(Parse({}, "build/sortbench").shaderPath, "build/Shaders");
    EXPECT_EQ(Parse({}, "bench").shaderPath, "Shaders");
    EXPECT_EQ(Parse({}, "/sortbench").shaderPath, "/Shaders");
}

TEST(RunPlan, path_options_refuse_an_empty_value_and_warn_of_a_second_json_file) {
    const RunPlan empty = Parse({"-O", "", "-JSON", ""});
    EXPECT_EQ(empty.error, "-O needs the directory to put the run directories in");
    EXPECT_TRUE(empty.warnings.empty()) << empty.warnings.front();
    const RunPlan twice = Parse({"-JSON", "a.json", "-JSON", "b.json", "-JSON", "b.json"});
    EXPECT_EQ(twice.jsonPath, "b.json");
    EXPECT_EQ(twice.warnings, std::vector<std::string>{"-JSON given more than once: the results go to b.json only, "
                                                       "not a.json"});
}

TEST(RunPlan, every_skipped_argument_gets_one_warning_naming_it) {
    const RunPlan plan = Parse({"-Gpu", "abc", "-MIN", "--verbose", "-R", "9", "-T", "5"});
    ASSERT_EQ(plan.warnings.size(), 4u);
    EXPECT_NE(plan.warnings[0].find("-Gpu"), std::string::npos);
    EXPECT_NE(plan.warnings[1].find("abc"), std::string::npos);
    EXPECT_NE(plan.warnings[2].find("--verbose"), std::string::npos);
    EXPECT_NE(plan.warnings[3].find("-T"), std::string::npos);
    EXPECT_EQ(plan.counts, kMinList);
    EXPECT_TRUE(plan.error.empty());
    EXPECT_TRUE(Parse({"-GPU", "-S", "5"}).warnings.empty());
}

TEST(RunPlan, help_switches_ask_for_the_usage_text) {
    for (const char* help : {"-h", "-help", "--help", "-?"}) EXPECT_TRUE(Parse({"-MIN", help}).showUsage) << help;
    EXPECT_FALSE(Parse({"-H"}).showUsage);
    const std::string usage = UsageText();
    for (const char* option : {"-GPU", "-QA", "-INFO", "-MIN", "-100K", "-1B", "-S500M", "-S N", "-R N", "-O DIR",
                               "--help", "/var/log/dezavadure/"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    for (const PeerFacts& peer : kPeers) EXPECT_NE(usage.find(peer.name), std::string::npos) << peer.name;
}

TEST(RunPlan, repetitions_take_a_whole_number_from_1_to_1000_or_auto_and_refuse_any_other_value) {
    const struct {
        std::vector<const char*> args;
        int repetitions;
        bool error;
    } cases[] = {
        {{}, 1, false},
        {{"-R", "9"}, 9, false},
        {{"-r", "+1000"}, 1000, false},
        {{"-R", "3", "-R", "5"}, 5, false},
        {{"-R", "abc"}, 1, true},
        {{"-R", "0"}, 1, true},
        {{"-R", "1001"}, 1, true},
        {{"-R", "-3"}, 1, true},
        {{"-R", "2.5"}, 1, true},
        {{"-R", "5abc"}, 1, true},
        {{"-R", "3x"}, 1, true},
        {{"-R", "AUTO"}, 1, true},
        {{"-R", "sometimes"}, 1, true},
        {{"-R", ""}, 1, true},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"sortbench"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const RunPlan plan = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), "261207081500", "/logs/");
        const std::string text = c.args.empty() ? "" : c.args.back();
        EXPECT_EQ(plan.repetition.count, c.repetitions) << text;
        EXPECT_EQ(!plan.error.empty(), c.error) << text;
        if (c.error) {
            EXPECT_NE(plan.error.find("from 1 to 1000, not " + text), std::string::npos) << plan.error;
        }
    }
}

// One problem, one line: an option followed by nothing or by another option is
// missing its value, and that option is read as itself; a bad value is taken
// as the value and never read again as an unknown argument.
TEST(RunPlan, an_option_without_its_value_or_with_a_bad_one_is_one_refusal) {
    const struct {
        std::vector<const char*> args;
        const char* error;
    } cases[] = {
        {{"-R", "auto", "-CI", "-S", "100"},
         "-CI takes the half-width of the median's interval in percent, from 0.1 to 50"},
        {{"-R", "auto", "-T", "-S", "100"},
         "-T takes the seconds one data set may take with -R auto, from 0.1 to 86400"},
        {{"-R", "-S", "100"}, "-R needs a number of repetitions after it"},
        {{"-r", "-S", "100"}, "-r needs a number of repetitions after it"},
        {{"-D", "-S", "100"}, "-D needs a list of key distributions"},
        {{"-O", "-S", "100"}, "-O needs the directory to put the run directories in"},
        {{"-JSON", "-S", "100"}, "-JSON needs the file to write the results to"},
        {{"-S", "-R", "9", "-S", "100"}, "-S needs a record count after it"},
        {{"-S", "", "-S", "100"}, "-S takes a record count, not an empty argument"},
        {{"-R", "auto", "-CI", "-1", "-S", "100"},
         "-CI takes the half-width of the median's interval in percent, from 0.1 to 50, not -1"},
        {{"-O", "-x", "-S", "100"},
         "-O needs the directory to put the run directories in, not -x (./-x names a path that starts with -)"},
        {{"-S", "100", "-R"}, "-R needs a number of repetitions after it"},
        {{"-SEED", "-S", "100"}, "-SEED needs a seed after it"},
        {{"-SEED", "-5", "-S", "100"}, "-SEED takes a whole number from 0 to 18446744073709551615, not -5"},
        {{"-SEED", "abc", "-S", "100"}, "-SEED takes a whole number from 0 to 18446744073709551615, not abc"},
        {{"-SEED", "18446744073709551616", "-S", "100"},
         "-SEED takes a whole number from 0 to 18446744073709551615, not 18446744073709551616"},
        {{"-SEED", "12x", "-S", "100"}, "-SEED takes a whole number from 0 to 18446744073709551615, not 12x"},
        {{"-SEED", "", "-S", "100"},
         "-SEED takes a whole number from 0 to 18446744073709551615, not an empty argument"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"sortbench"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const RunPlan plan = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), "261207081500", "/logs/");
        EXPECT_EQ(plan.error, c.error);
        EXPECT_TRUE(plan.warnings.empty()) << c.error << ": " << plan.warnings.front();
        EXPECT_EQ(plan.counts, std::vector<std::uint64_t>{100}) << c.error;
    }
}

TEST(RunPlan, auto_repetitions_take_an_interval_target_and_a_budget) {
    const struct {
        std::vector<const char*> args;
        bool untilSure;
        double target, budget;
        const char* problem;  // empty: accepted
        const char* warning = "";
    } cases[] = {
        {{"-R", "auto"}, true, 0.01, 10, ""},
        {{"-r", "auto", "-CI", "0.5", "-T", "2.5"}, true, 0.005, 2.5, ""},
        {{"-R", "auto", "-R", "3"}, false, 0.01, 10, ""},
        {{"-R", "auto", "-CI", "50", "-T", "86400"}, true, 0.5, 86400, ""},
        {{"-R", "auto", "-CI", "0.05"},
         true,
         0.01,
         10,
         "-CI takes the half-width of the median's interval in percent, from 0.1 to 50, not 0.05"},
        {{"-R", "auto", "-CI", "1,5"}, true, 0.01, 10, "-CI takes"},
        {{"-R", "auto", "-T", "0"},
         true,
         0.01,
         10,
         "-T takes the seconds one data set may take with -R auto, from 0.1 to 86400, not 0"},
        {{"-R", "auto", "-T"}, true, 0.01, 10, "-T takes"},
        {{"-R", "9", "-T", "5"}, false, 0.01, 5, "", "Ignoring -T: it applies to -R auto only"},
        // One line per problem: the refusal, not also the warning.
        {{"-S", "1000", "-T", "nan"}, false, 0.01, 10, "-T takes"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"sortbench"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const RunPlan plan = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), "261207081500", "/logs/");
        const std::string text = argv.size() > 2 ? std::string(argv[argv.size() - 2]) + " " + argv.back() : "";
        EXPECT_EQ(plan.repetition.untilSure, c.untilSure) << text;
        EXPECT_EQ(plan.error.rfind(c.problem, 0), 0u) << text << ": " << plan.error;
        EXPECT_EQ(plan.error.empty(), *c.problem == '\0') << text;
        if (plan.error.empty()) {
            EXPECT_DOUBLE_EQ(plan.repetition.intervalTarget, c.target) << text;
            EXPECT_DOUBLE_EQ(plan.repetition.budgetSeconds, c.budget) << text;
            EXPECT_EQ(plan.repetition.count, c.untilSure ? 1000 : plan.repetition.count);
        }
        if (*c.warning != '\0') {
            EXPECT_EQ(plan.warnings, std::vector<std::string>{c.warning}) << text;
        } else if (!c.untilSure) {
            EXPECT_TRUE(plan.warnings.empty()) << text;
        }
    }
}

TEST(RunPlan, output_directory_replaces_the_log_directory) {
    const RunPlan plan = Parse({"-O", "results", "-GPU"});
    EXPECT_EQ(plan.logDirectory, "results/");
    EXPECT_EQ(plan.RunPath(), "results/cpu_gpu_261207081500/");
    EXPECT_TRUE(plan.customLogDirectory);
    for (auto args : {std::initializer_list<const char*>{"-O"}, {"-O", "-MIN"}, {"-O", ""}})
        EXPECT_FALSE(Parse(args).error.empty());
}

TEST(RunPlan, distributions_peers_and_json_file_are_options_of_their_own) {
    EXPECT_EQ(Parse({}).distributions, std::vector<Distribution>{Distribution::Uniform});
    EXPECT_EQ(Parse({"-D", "zipf,sorted"}).distributions,
              (std::vector<Distribution>{Distribution::Zipf, Distribution::Sorted}));
    EXPECT_EQ(Parse({"-d", "all"}).distributions.size(), 8u);
    for (auto args : {std::initializer_list<const char*>{"-D", "zipf,bogus"},
                      {"-D", ""},
                      {"-D", "sorted,"},
                      {"-D"},
                      {"-JSON"},
                      {"-JSON", "-MIN"}}) {
        const RunPlan plan = Parse(args);
        EXPECT_FALSE(plan.error.empty()) << *args.begin() << " " << (args.size() > 1 ? *(args.begin() + 1) : "");
    }
    EXPECT_NE(Parse({"-D", "bogus"}).error.find("uniform, sorted, reverse"), std::string::npos);
    const RunPlan twice = Parse({"-D", "zipf,sorted,zipf"});
    EXPECT_EQ(twice.distributions, (std::vector<Distribution>{Distribution::Zipf, Distribution::Sorted}));
    EXPECT_EQ(twice.warnings, std::vector<std::string>{
                                  "-D zipf,sorted,zipf: each key distribution runs once (zipf named more than once)"});

    const RunPlan plan = Parse({"-PEERS", "-GPU", "-JSON", "out.json"});
    EXPECT_EQ(plan.jsonPath, "out.json");
    ASSERT_EQ(plan.columns.size(), 8 + kPeers.size());
    EXPECT_EQ(plan.columns[7], Column::GpuTransfer);
    EXPECT_EQ(plan.columns[8], PeerColumn(Peer::Vqsort));
    EXPECT_EQ(plan.columns.back(), PeerColumn(Peer::ParallelStableSort));
    EXPECT_EQ(ResultHeader(RunColumns(false, true)).substr(75, 12), "Peer vqsort,");
    EXPECT_TRUE(ResultHeader(RunColumns(false, true)).ends_with(",Peer parallel stable sort"));
}

TEST(RunPlan, peers_are_every_one_or_those_a_list_names_in_column_order) {
    const struct {
        std::vector<const char*> args;
        std::vector<Peer> peers;
        std::uint64_t count;  // the count the rest of the line asked for
    } cases[] = {
        {{"-S", "1000"}, {}, 1000},
        {{"-PEERS", "-S", "1000"}, AllPeers(), 1000},
        {{"-PEERS", "all", "-S", "1000"}, AllPeers(), 1000},
        {{"-PEERS", "tbb,pdqsort", "-S", "1000"}, {Peer::Pdqsort, Peer::Tbb}, 1000},
        {{"-S", "1000", "-PEERS", "std-stable-sort-par"}, {Peer::ParallelStableSort}, 1000},
        {{"-PEERS", "tbb", "-PEERS", "vqsort", "-S", "1000"}, {Peer::Vqsort, Peer::Tbb}, 1000},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"sortbench"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const RunPlan plan = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), "261207081500", "/logs/");
        const std::string line = c.args.size() > 1 ? std::string(c.args[0]) + " " + c.args[1] : c.args[0];
        EXPECT_TRUE(plan.error.empty()) << line << ": " << plan.error;
        EXPECT_EQ(plan.peers, c.peers) << line;
        EXPECT_EQ(plan.peersEnabled, !c.peers.empty()) << line;
        EXPECT_EQ(plan.counts, std::vector<std::uint64_t>{c.count}) << line;
        std::vector<Column> peerColumns(plan.columns.begin() + 5, plan.columns.end());
        std::vector<Column> expected;
        for (const Peer peer : c.peers) expected.push_back(PeerColumn(peer));
        EXPECT_EQ(peerColumns, expected) << line;
    }
    for (auto args : {std::initializer_list<const char*>{"-PEERS", "bogus"}, {"-PEERS", ""}, {"-PEERS", "tbb,"}}) {
        const std::string error = Parse(args).error;
        EXPECT_NE(error.find("valid names: vqsort, std-sort, pdqsort"), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    EXPECT_EQ(Parse({"-PEERS", "tbb,tbb"}).warnings,
              std::vector<std::string>{"-PEERS tbb,tbb: each peer runs once (tbb named more than once)"});
}

TEST(RunPlan, pairs_add_their_two_columns_after_ours_and_before_the_peers_wherever_given) {
    const std::vector<Column> cpu{Column::CpuStandard, Column::Cpu1Thread, Column::Cpu2Thread, Column::Cpu4Thread,
                                  Column::Cpu8Thread};
    const std::vector<Column> pairs{Column::PairRadix1Thread, Column::PairRadixAllCpus};
    const auto join = [](std::vector<std::vector<Column>> parts) {
        std::vector<Column> joined;
        for (const auto& part : parts) joined.insert(joined.end(), part.begin(), part.end());
        return joined;
    };
    const std::vector<Column> gpu{Column::Gpu, Column::GpuOnCard, Column::GpuTransfer};
    const std::vector<Column> vqsort{PeerColumn(Peer::Vqsort)};
    const struct {
        std::initializer_list<const char*> args;
        bool pairsEnabled;
        std::vector<Column> columns;
        std::size_t warnings;
    } cases[] = {
        {{"-S", "1000"}, false, cpu, 0},
        {{"-PAIRS"}, true, join({cpu, pairs}), 0},
        {{"-PAIRS", "-PAIRS"}, true, join({cpu, pairs}), 0},
        {{"-PEERS", "vqsort", "-PAIRS", "-GPU"}, true, join({cpu, gpu, pairs, vqsort}), 0},
        {{"-pairs"}, false, cpu, 1},
    };
    for (const auto& c : cases) {
        const RunPlan plan = Parse(c.args);
        const std::string line = *c.args.begin();
        EXPECT_TRUE(plan.error.empty()) << line;
        EXPECT_EQ(plan.pairsEnabled, c.pairsEnabled) << line;
        EXPECT_EQ(plan.columns, c.columns) << line;
        EXPECT_EQ(plan.warnings.size(), c.warnings) << line;
    }
    EXPECT_TRUE(ResultHeader(RunColumns(false, {Peer::Vqsort}, true))
                    .ends_with(",CPU 8 Thread,Pair Radix 1 Thread,Pair Radix All CPUs,Peer vqsort"));
}

TEST(RunPlan, a_seed_given_back_makes_the_same_keys_and_without_one_the_seed_is_the_clock_in_seconds) {
    const auto keys = [](const RunPlan& plan) {
        ReseedTestData(plan.seed);
        std::vector<std::int64_t> all;
        AppCore::CharBuffer buffer;
        for (const Distribution distribution : plan.distributions) {
            const std::int64_t* drawn = GenerateKeys<std::int64_t>(distribution, 1000, buffer);
            all.insert(all.end(), drawn, drawn + 1000);
        }
        return all;
    };
    const RunPlan recorded = Parse({"-SEED", "18446744073709551615", "-D", "all"});
    EXPECT_EQ(recorded.seed, 18446744073709551615u);
    EXPECT_EQ(keys(recorded), keys(Parse({"-D", "all", "-SEED", "18446744073709551615"})));
    EXPECT_NE(keys(recorded), keys(Parse({"-SEED", "0", "-D", "all"})));
    const auto before = static_cast<std::uint64_t>(std::time(nullptr));
    const std::uint64_t clock = Parse({}).seed;
    EXPECT_GE(clock, before);
    EXPECT_LE(clock, static_cast<std::uint64_t>(std::time(nullptr)));
}

TEST(RunPlan, types_and_columns_lists_choose_what_runs_and_refuse_what_the_run_cannot_have) {
    using AppCore::DataType;
    const struct {
        std::vector<const char*> args;
        std::vector<DataType> types;
        std::string header;  // empty when refused
        std::string error;   // the start of the refusal
    } cases[] = {
        {{"-TYPES", "bigint,INT"},
         {DataType::INT, DataType::BIGINT},
         "NbRecords,CPU Standard,CPU 1 Thread,CPU 2 "
         "Thread,CPU 4 Thread,CPU 8 Thread",
         ""},
        {{"-TYPES", "INT", "-TYPES", "FLOAT"}, {DataType::INT, DataType::FLOAT}, "", ""},
        {{"-COLUMNS", "CPU 8 Thread,standard"}, {}, "NbRecords,CPU Standard,CPU 8 Thread", ""},
        // Named before the option that adds them; a GPU name brings the three columns of its one sort.
        {{"-COLUMNS", "GPU On Card,vqsort,Pair Radix 1 Thread", "-PEERS", "-GPU", "-PAIRS"},
         {},
         "NbRecords,GPU,GPU On Card,GPU Transfer,Pair Radix 1 Thread,Peer vqsort",
         ""},
        {{"-PEERS", "tbb,pdqsort", "-COLUMNS", "peers"}, {}, "NbRecords,Peer pdqsort,Peer tbb", ""},
        {{"-TYPES", "int,short"},
         {},
         "",
         "-TYPES: unknown data type 'short'; valid names: INT, FLOAT, BIGINT, BIGFLOAT"},
        {{"-TYPES", ""}, {}, "", "-TYPES: empty data type list"},
        {{"-TYPES", "INT,,FLOAT"}, {}, "", "-TYPES: empty data type name"},
        {{"-COLUMNS", "radix,quick"}, {}, "", "-COLUMNS: unknown column 'quick'; valid names: standard, radix,"},
        {{"-COLUMNS", ""}, {}, "", "-COLUMNS: empty column list"},
        {{"-COLUMNS", "Peer vqsort"}, {}, "", "-COLUMNS: Peer vqsort is timed only with -PEERS"},
        {{"-PEERS", "tbb", "-COLUMNS", "vqsort"}, {}, "", "-COLUMNS: vqsort is timed only with -PEERS with vqsort"},
        {{"-COLUMNS", "gpu"}, {}, "", "-COLUMNS: gpu is timed only with -GPU"},
        {{"-COLUMNS", "pairs"}, {}, "", "-COLUMNS: pairs is timed only with -PAIRS"},
        {{"-COLUMNS", "peers"}, {}, "", "-COLUMNS: peers is timed only with -PEERS"},
        {{"-GPU", "-QA", "-COLUMNS", "gpu,CPU 4 Thread"}, {}, "", "-QA compares the GPU's permutation with CPU 8"},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"sortbench"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        const RunPlan plan = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), "261207081500", "/logs/");
        const std::string given = c.args.front() + std::string(" ") + c.args[1];
        if (!c.error.empty()) {
            EXPECT_EQ(plan.error.rfind(c.error, 0), 0u) << given << ": " << plan.error;
            continue;
        }
        EXPECT_EQ(plan.error, "") << given;
        if (!c.types.empty()) EXPECT_EQ(plan.types, c.types) << given;
        if (!c.header.empty()) EXPECT_EQ(ResultHeader(plan.columns), c.header) << given;
    }
    const RunPlan repeated = Parse({"-COLUMNS", "radix,Radix", "-PEERS", "tbb,vqsort", "-COLUMNS", "tbb"});
    EXPECT_EQ(repeated.warnings, std::vector<std::string>{"-COLUMNS radix,Radix,tbb: each column is timed once "
                                                          "(Radix named more than once)"});
    EXPECT_EQ(ResultHeader(repeated.leftOut), "NbRecords,CPU Standard,Peer vqsort");
    EXPECT_TRUE(Parse({}).leftOut.empty());
}
