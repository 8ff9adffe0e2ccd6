#include "driver/command_line/RunPlan.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <string>

#include "driver/measuring/MedianInterval.h"
#include "strings/NumberText.h"
#include "strings/NumericTest.h"

namespace {

// Count-list switches, in the order in which they win when several are given:
// "-MIN" beats the single counts, the single counts beat the ladders, longer
// ladders beat shorter ones, and every one of them beats a custom "-S" count.
enum Preset { kMin, kS1B, kS750M, kS500M, k1B, k500M, k100M, k10M, k1M, k100K, kPresetCount };

struct Switches {
    bool presets[kPresetCount] = {};
    std::uint64_t customCount = 0;
};

// The standard ladder up to and including `last`, one of its counts.
std::vector<std::uint64_t> LadderUpTo(std::uint64_t last) {
    const auto& ladder = StandardLadder();
    return {ladder.begin(), std::find(ladder.begin(), ladder.end(), last) + 1};
}

std::vector<std::uint64_t> LadderWith(std::initializer_list<std::uint64_t> extra) {
    std::vector<std::uint64_t> counts = StandardLadder();
    counts.insert(counts.end(), extra);
    return counts;
}

std::vector<std::uint64_t> ResolveCounts(const Switches& s) {
    if (s.presets[kMin]) return LadderUpTo(1000);
    if (s.presets[kS1B]) return {1000000000};
    if (s.presets[kS750M]) return {750000000};
    if (s.presets[kS500M]) return {500000000};
    if (s.presets[k1B]) return LadderWith({250000000, 500000000, 750000000, 1000000000});
    if (s.presets[k500M]) return LadderWith({250000000, 500000000});
    if (s.presets[k100M]) return StandardLadder();
    if (s.presets[k10M]) return LadderUpTo(10000000);
    if (s.presets[k1M]) return LadderUpTo(1000000);
    if (s.presets[k100K]) return LadderUpTo(100000);
    if (s.customCount != 0) return {s.customCount};
    return StandardLadder();
}

// Unsigned decimal up to the first non-digit; a leading "-" negates modulo 2^64.
// Digits worth more than 2^64 - 1 give nullopt rather than a wrapped count.
std::optional<std::uint64_t> ParseCount(const char* text) {
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    std::uint64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        const auto digit = static_cast<std::uint64_t>(*text - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return negative ? 0 - value : value;
}

// Why a "-S" value cannot be run, or empty. A negative count wraps around to more
// records than 32-bit indices can address, so it fails as surely as a count that
// does not fit in 64 bits; both are refused before anything is created.
std::string CountProblem(const char* option, const char* text) {
    const std::optional<std::uint64_t> count = ParseCount(text);
    const std::string given = std::string(option) + " " + text;
    if (!count) return given + ": the record count is larger than 18446744073709551615";
    const bool negative = *text == '-';
    if (negative && *count > std::numeric_limits<std::uint32_t>::max()) {
        return given + ": a negative record count wraps around to " + std::to_string(*count) +
               ", more than the 4294967295 records 32-bit indices can address";
    }
    return {};
}

bool Is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

// "-R" takes a whole number in [1, kMaxRepetitions]; anything else numeric is an error.
bool ParseRepetitions(const char* text, int& repetitions) {
    if (*text == '+') ++text;
    if (*text == '\0') return false;
    int value = 0;
    for (const char* digit = text; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9') return false;
        value = value * 10 + (*digit - '0');
        if (value > kMaxRepetitions) return false;
    }
    if (value < 1) return false;
    repetitions = value;
    return true;
}

// ", not <value>" for a refusal that quotes the value it was given.
std::string Not(const char* value) {
    return *value == '\0' ? std::string(", not an empty argument") : std::string(", not ") + value;
}

std::string WithTrailingSlash(std::string directory) {
    if (directory.back() != '/') directory += '/';
    return directory;
}

}  // namespace

const std::vector<std::uint64_t>& StandardLadder() {
    static const std::vector<std::uint64_t> ladder{100,      250,      500,      750,      1000,    2500,    5000,
                                                   7500,     10000,    25000,    50000,    75000,   100000,  250000,
                                                   500000,   750000,   1000000,  2500000,  5000000, 7500000, 10000000,
                                                   25000000, 50000000, 75000000, 100000000};
    return ladder;
}

std::string ShaderPathFor(const std::string& programPath) {
    const size_t slash = programPath.rfind('/');
    if (slash == std::string::npos) return "Shaders";
    return programPath.substr(0, slash + 1) + "Shaders";
}

namespace {

// The peers' names for the usage text, those on one thread and those on every
// CPU apart, wrapped under the options' descriptions.
std::string PeerNamesText() {
    const std::string indent(18, ' ');
    std::string text;
    std::string line = indent;
    const auto add = [&](const std::string& word) {
        if (line.size() + word.size() + 1 > 100 && line != indent) {
            text += line + "\n";
            line = indent;
        }
        line += (line == indent ? "" : " ") + word;
    };
    for (const PeerThreads threads : {PeerThreads::One, PeerThreads::EveryCpu}) {
        std::vector<const char*> names;
        for (const PeerFacts& peer : kPeers) {
            if (peer.threads == threads) names.push_back(peer.name);
        }
        for (std::size_t i = 0; i < names.size(); ++i) add(std::string(names[i]) + (i + 1 < names.size() ? "," : ""));
        add(threads == PeerThreads::One ? "(one thread);" : "(every online CPU); all");
    }
    return text + line + "\n";
}

// " (13 counts)": how many counts the ladder up to `last` has.
std::string CountsOf(std::uint64_t last) { return " (" + std::to_string(LadderUpTo(last).size()) + " counts"; }

std::string UsageTextOfThisBuild() {
    const std::string repetitions = std::to_string(kMaxRepetitions);
    return "usage: sortbench [options]\n"
           "Times sorters on random INT, FLOAT, BIGINT and BIGFLOAT data and writes one CSV file per type.\n"
           "  -GPU, -gpu      also sort on the GPU (three more columns)\n"
           "  -QA             with -GPU: check the GPU permutation against the CPU's; a mismatch stops the run\n"
           "  -INFO           print the system report and stop\n"
           "  -LIMITS         measure what this machine's memory (and GPU) allows, print it with the\n"
           "                  system report and stop; creates no directory\n"
           "  -MIN, -min      counts 100 to 1,000" +
           CountsOf(1000) +
           ")\n"
           "  -100K           counts 100 to 100,000" +
           CountsOf(100000) +
           ")\n"
           "  -1M             counts 100 to 1,000,000" +
           CountsOf(1000000) +
           ")\n"
           "  -10M            counts 100 to 10,000,000" +
           CountsOf(10000000) +
           ")\n"
           "  -100M           counts 100 to 100,000,000" +
           CountsOf(100000000) +
           "; the default)\n"
           "  -500M           the default counts, then 250 and 500 million\n"
           "  -1B             the default counts, then 250, 500, 750 million and 1 billion\n"
           "  -S500M, -S750M, -S1B   the single count 500, 750 or 1,000 million\n"
           "  -S N, -s N      the single count N\n"
           "  -R N, -r N      time every sorter N times (1 to " +
           repetitions +
           ") and report the median and spread\n"
           "  -R auto         time every sorter at least " +
           std::to_string(MinimumSamplesFor()) +
           " times (what a median's 95% interval needs),\n"
           "                  then until each interval is within -CI percent of its median or the data\n"
           "                  set has taken -T seconds (at most " +
           repetitions +
           " times)\n"
           "  -CI PCT         with -R auto: the interval's half-width, " +
           SLib::STR_Typed(kMinIntervalPercent) + " to " + SLib::STR_Typed(kMaxIntervalPercent) + " percent (default " +
           SLib::STR_Typed(kDefaultIntervalTarget * 100.0) +
           ")\n"
           "  -T SECONDS      with -R auto: the time budget per data set, warm-ups included (default " +
           SLib::STR_Typed(kDefaultBudgetSeconds) +
           ")\n"
           "  -O DIR          put the run directories under DIR (created if missing)\n"
           "  -D LIST, -d LIST   key distributions, comma-separated, run in this order: uniform (the\n"
           "                  default), sorted, reverse, nearly-sorted, few-unique, equal, zipf, skewed; all\n"
           "  -PEERS [LIST]   also time sorters of other libraries, each a column checked against ours: every\n"
           "                  one, or those of the comma-separated LIST:\n" +
           PeerNamesText() +
           "  -PAIRS          also time our radix sort that carries each key with its index, checked against\n"
           "                  ours: on one thread and on every online CPU (two columns before the peers')\n"
           "  -JSON FILE      also write the results to FILE in Google Benchmark's JSON format\n"
           "  -h, -help, --help, -?   print this text and stop\n"
           "Results: " +
           std::string(kDefaultLogDirectory) +
           "cpu_[gpu_]YYMMDDhhmmss/bench_<TYPE>.csv, one directory per run\n"
           "(under DIR with -O).\n";
}

}  // namespace

const char* UsageText() {
    static const std::string text = UsageTextOfThisBuild();
    return text.c_str();
}

namespace {

// Whether `arg` is one of the options the command line knows (kOptions).
bool IsOption(const char* arg);

// The arguments being read, and what they have decided so far.
struct Parse {
    int argc;
    const char* const* argv;
    int i;  // the argument being read; an option with a value advances it past the value
    RunPlan& plan;
    Switches& switches;
    std::vector<const char*> autoTuning;  // "-CI" and "-T" as given: they act on -R auto only

    // The first bad value is the one reported.
    void Refuse(std::string problem) {
        if (plan.error.empty()) plan.error = std::move(problem);
    }
    void Warn(std::string warning) { plan.warnings.push_back(std::move(warning)); }
    // The argument after this one, taken as the option's value; nothing when
    // there is none or it is an option the command line knows. Then the value
    // is missing, which is the one problem reported, and that option is read
    // as itself: "-CI -S 100" refuses -CI alone, with -S 100 taken as given.
    // Anything else is the value, good or bad, and is never read again.
    const char* Value() { return i + 1 < argc && !IsOption(argv[i + 1]) ? argv[++i] : nullptr; }
};

void TakeCount(Parse& p, const char* option) {
    const char* value = p.Value();
    if (value == nullptr) return p.Refuse(std::string(option) + " needs a record count after it");
    if (!SLib::STR_IsNum(value)) return p.Refuse(std::string(option) + " takes a record count" + Not(value));
    const std::string problem = CountProblem(option, value);
    if (!problem.empty()) return p.Refuse(problem);
    p.switches.customCount = *ParseCount(value);
}

void TakeRepetitions(Parse& p, const char* option) {
    // A typo such as "5abc" or "AUTO" is refused rather than run without repetitions.
    const char* value = p.Value();
    if (value == nullptr) return p.Refuse(std::string(option) + " needs a number of repetitions after it");
    if (Is(value, "auto")) {
        p.plan.repetition.untilSure = true;
        p.plan.repetition.count = kMaxRepetitions;
        return;
    }
    p.plan.repetition.untilSure = false;
    if (!ParseRepetitions(value, p.plan.repetition.count)) {
        p.Refuse(std::string(option) + " takes a whole number of repetitions from 1 to " +
                 std::to_string(kMaxRepetitions) + Not(value));
    }
}

// A decimal number in [low, high], the whole text; the locale plays no part.
std::optional<double> NumberIn(const char* text, double low, double high) {
    double value = 0.0;
    const char* end = text + std::strlen(text);
    const auto [stop, error] = std::from_chars(text, end, value);
    if (error != std::errc() || stop != end || !(value >= low && value <= high)) return std::nullopt;
    return value;
}

// The decimal value in [low, high] after `option`; nothing after one refusal
// that says `what` the value is.
std::optional<double> TakeDecimal(Parse& p, const char* option, double low, double high, const char* what) {
    const char* value = p.Value();
    const std::optional<double> number = value == nullptr ? std::nullopt : NumberIn(value, low, high);
    // One line per problem: a refused value is not also ignored for want of -R auto.
    if (number) p.autoTuning.push_back(option);
    if (!number) {
        p.Refuse(std::string(option) + " takes " + what + ", from " + SLib::STR_Typed(low) + " to " +
                 SLib::STR_Typed(high) + (value == nullptr ? std::string() : Not(value)));
    }
    return number;
}

void TakeIntervalTarget(Parse& p, const char* option) {
    const std::optional<double> percent = TakeDecimal(p, option, kMinIntervalPercent, kMaxIntervalPercent,
                                                      "the half-width of the median's interval in percent");
    if (percent) p.plan.repetition.intervalTarget = *percent / 100.0;
}

void TakeBudget(Parse& p, const char* option) {
    const std::optional<double> seconds =
        TakeDecimal(p, option, kMinBudgetSeconds, kMaxBudgetSeconds, "the seconds one data set may take with -R auto");
    if (seconds) p.plan.repetition.budgetSeconds = *seconds;
}

// The path after a path option, or nothing after its one refusal, which says
// `what` the path names. An empty one is the value missing; one that starts
// with "-" is more likely a mistyped option than a path, which "./-x" still names.
const char* TakePath(Parse& p, const char* option, const char* what) {
    const char* path = p.Value();
    const std::string needs = std::string(option) + " needs " + what;
    if (path == nullptr || *path == '\0') {
        p.Refuse(needs);
    } else if (*path == '-') {
        p.Refuse(needs + Not(path) + " (./" + path + " names a path that starts with -)");
    } else {
        return path;
    }
    return nullptr;
}

void TakeLogDirectory(Parse& p, const char* option) {
    const char* directory = TakePath(p, option, "the directory to put the run directories in");
    if (directory == nullptr) return;
    p.plan.logDirectory = WithTrailingSlash(directory);
    p.plan.customLogDirectory = true;
}

void TakeJsonPath(Parse& p, const char* option) {
    const char* path = TakePath(p, option, "the file to write the results to");
    if (path == nullptr) return;
    const std::string earlier = p.plan.jsonPath;
    p.plan.jsonPath = path;
    if (!earlier.empty() && earlier != p.plan.jsonPath)
        p.Warn("-JSON given more than once: the results go to " + p.plan.jsonPath + " only, not " + earlier);
}

void TakeDistributions(Parse& p, const char* option) {
    const char* list = p.Value();
    if (list == nullptr) return p.Refuse(std::string(option) + " needs a list of key distributions");
    std::string problem;
    std::string repeated;
    if (!ParseDistributionList(list, p.plan.distributions, problem, &repeated)) return p.Refuse(problem);
    if (!repeated.empty()) {
        p.Warn(std::string(option) + " " + list + ": each key distribution runs once (" + repeated +
               " named more than once)");
    }
}

// "-PEERS" alone is every peer; a list may follow, as the next argument that is
// no option ("-" starts none of the names, so "-PEERS -x" is every peer, and -x
// is read on its own). Nothing is missing without a list.
void TakePeers(Parse& p, const char* option) {
    p.plan.peersEnabled = true;
    std::vector<Peer> named = AllPeers();
    if (p.i + 1 < p.argc && p.argv[p.i + 1][0] != '-') {
        const char* list = p.argv[++p.i];
        std::string problem;
        std::string repeated;
        if (!ParsePeerList(list, named, problem, &repeated)) return p.Refuse(problem);
        if (!repeated.empty())
            p.Warn(std::string(option) + " " + list + ": each peer runs once (" + repeated + " named more than once)");
    }
    for (const Peer peer : named) {
        if (std::find(p.plan.peers.begin(), p.plan.peers.end(), peer) == p.plan.peers.end())
            p.plan.peers.push_back(peer);
    }
    // Column order, however the lists named them.
    std::sort(p.plan.peers.begin(), p.plan.peers.end());
}

// Every option the command line knows, by exact spelling. Switches only turn
// something on; options with a value read the argument after them.
struct Option {
    const char* spelling;
    void (*take)(Parse&, const char* spelling);
};

template <Preset preset>
void TakePreset(Parse& p, const char*) {
    p.switches.presets[preset] = true;
}

constexpr Option kOptions[] = {
    {"-S", TakeCount},
    {"-s", TakeCount},
    {"-R", TakeRepetitions},
    {"-r", TakeRepetitions},
    {"-CI", TakeIntervalTarget},
    {"-T", TakeBudget},
    {"-O", TakeLogDirectory},
    {"-JSON", TakeJsonPath},
    {"-D", TakeDistributions},
    {"-d", TakeDistributions},
    {"-PEERS", TakePeers},
    {"-PAIRS", [](Parse& p, const char*) { p.plan.pairsEnabled = true; }},
    {"-h", [](Parse& p, const char*) { p.plan.showUsage = true; }},
    {"-help", [](Parse& p, const char*) { p.plan.showUsage = true; }},
    {"--help", [](Parse& p, const char*) { p.plan.showUsage = true; }},
    {"-?", [](Parse& p, const char*) { p.plan.showUsage = true; }},
    {"-GPU", [](Parse& p, const char*) { p.plan.gpuEnabled = true; }},
    {"-gpu", [](Parse& p, const char*) { p.plan.gpuEnabled = true; }},
    {"-QA", [](Parse& p, const char*) { p.plan.qaEnabled = true; }},
    {"-INFO", [](Parse& p, const char*) { p.plan.infoOnly = true; }},
    {"-LIMITS", [](Parse& p, const char*) { p.plan.limitsOnly = true; }},
    {"-MIN", TakePreset<kMin>},
    {"-min", TakePreset<kMin>},
    {"-S1B", TakePreset<kS1B>},
    {"-S750M", TakePreset<kS750M>},
    {"-S500M", TakePreset<kS500M>},
    {"-1B", TakePreset<k1B>},
    {"-500M", TakePreset<k500M>},
    {"-100M", TakePreset<k100M>},
    {"-10M", TakePreset<k10M>},
    {"-1M", TakePreset<k1M>},
    {"-100K", TakePreset<k100K>},
};

bool IsOption(const char* arg) {
    return std::any_of(std::begin(kOptions), std::end(kOptions),
                       [arg](const Option& known) { return Is(arg, known.spelling); });
}

}  // namespace

std::vector<std::string> OptionSpellings() {
    std::vector<std::string> spellings;
    for (const Option& option : kOptions) spellings.emplace_back(option.spelling);
    return spellings;
}

RunPlan ParseCommandLine(int argc, const char* const argv[], const std::string& startStamp,
                         const std::string& logDirectory) {
    RunPlan plan;
    plan.logDirectory = logDirectory;
    Switches switches;
    Parse parse{argc, argv, 1, plan, switches, {}};
    for (; parse.i < argc; ++parse.i) {
        const char* arg = argv[parse.i];
        const auto option = std::find_if(std::begin(kOptions), std::end(kOptions),
                                         [arg](const Option& known) { return Is(arg, known.spelling); });
        if (option == std::end(kOptions)) {
            parse.Warn(std::string("Ignoring unknown argument: ") + arg + " (-help lists the options)");
        } else {
            option->take(parse, option->spelling);
        }
    }

    if (!plan.repetition.untilSure) {
        for (const char* option : parse.autoTuning)
            parse.Warn(std::string("Ignoring ") + option + ": it applies to -R auto only");
    }
    plan.counts = ResolveCounts(switches);
    plan.columns = RunColumns(plan.gpuEnabled, plan.peers, plan.pairsEnabled);
    plan.runName = std::string("cpu_") + (plan.gpuEnabled ? "gpu_" : "") + startStamp;
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) plan.arguments.emplace_back(argv[i]);
    plan.programPath = argc > 0 ? argv[0] : "sortbench";
    plan.shaderPath = argc > 0 ? ShaderPathFor(argv[0]) : "Shaders";
    return plan;
}
