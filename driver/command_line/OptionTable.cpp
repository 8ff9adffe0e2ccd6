#include "driver/command_line/OptionTable.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "driver/command_line/ColumnChoice.h"
#include "driver/command_line/OptionValues.h"
#include "driver/measuring/MedianInterval.h"
#include "strings/NumberText.h"
#include "strings/NumericTest.h"

namespace {

bool Is(const char* arg, const char* option) { return std::strcmp(arg, option) == 0; }

std::string WithTrailingSlash(std::string directory) {
    if (directory.back() != '/') directory += '/';
    return directory;
}

void TakeCount(OptionReader& r, const char* option) {
    const char* value = r.Value();
    if (value == nullptr) return r.Refuse(std::string(option) + " needs a record count after it");
    if (!SLib::STR_IsNum(value)) return r.Refuse(std::string(option) + " takes a record count" + Not(value));
    const std::string problem = CountProblem(option, value);
    if (!problem.empty()) return r.Refuse(problem);
    r.counts.customCount = *ParseCount(value);
}

// "-S500M", "-S750M", "-S1B": the one count the spelling names, in millions or billions.
void TakeSingleCount(OptionReader& r, const char* spelling) {
    char* unit = nullptr;
    const std::uint64_t number = std::strtoull(spelling + 2, &unit, 10);
    r.counts.singleCount = std::max(r.counts.singleCount, number * (*unit == 'B' ? 1000000000 : 1000000));
}

template <CountSwitches::Ladder ladder>
void TakeLadder(OptionReader& r, const char*) {
    r.counts.ladders[ladder] = true;
}

void TakeRepetitions(OptionReader& r, const char* option) {
    // A typo such as "5abc" or "AUTO" is refused rather than run without repetitions.
    const char* value = r.Value();
    if (value == nullptr) return r.Refuse(std::string(option) + " needs a number of repetitions after it");
    if (Is(value, "auto")) {
        r.plan.repetition.untilSure = true;
        r.plan.repetition.count = kMaxRepetitions;
        return;
    }
    r.plan.repetition.untilSure = false;
    if (const std::optional<std::uint64_t> count = WholeNumberIn(value, 1, kMaxRepetitions)) {
        r.plan.repetition.count = static_cast<int>(*count);
    } else {
        r.Refuse(std::string(option) + " takes a whole number of repetitions from 1 to " +
                 std::to_string(kMaxRepetitions) + Not(value));
    }
}

// The decimal value in [low, high] after `option`; nothing after one refusal
// that says `what` the value is.
std::optional<double> TakeDecimal(OptionReader& r, const char* option, double low, double high, const char* what) {
    const char* value = r.Value();
    const std::optional<double> number = value == nullptr ? std::nullopt : NumberIn(value, low, high);
    // One line per problem: a refused value is not also ignored for want of -R auto.
    if (number) r.autoTuning.push_back(option);
    if (!number) {
        r.Refuse(std::string(option) + " takes " + what + ", from " + SLib::STR_Typed(low) + " to " +
                 SLib::STR_Typed(high) + (value == nullptr ? std::string() : Not(value)));
    }
    return number;
}

void TakeIntervalTarget(OptionReader& r, const char* option) {
    const std::optional<double> percent = TakeDecimal(r, option, kMinIntervalPercent, kMaxIntervalPercent,
                                                      "the half-width of the median's interval in percent");
    if (percent) r.plan.repetition.intervalTarget = *percent / 100.0;
}

void TakeBudget(OptionReader& r, const char* option) {
    const std::optional<double> seconds =
        TakeDecimal(r, option, kMinBudgetSeconds, kMaxBudgetSeconds, "the seconds one data set may take with -R auto");
    if (seconds) r.plan.repetition.budgetSeconds = *seconds;
}

// The path after a path option, or nothing after its one refusal, which says
// `what` the path names. An empty one is the value missing; one that starts
// with "-" is more likely a mistyped option than a path, which "./-x" still names.
const char* TakePath(OptionReader& r, const char* option, const char* what) {
    const char* path = r.Value();
    const std::string needs = std::string(option) + " needs " + what;
    if (path == nullptr || *path == '\0') {
        r.Refuse(needs);
    } else if (*path == '-') {
        r.Refuse(needs + Not(path) + " (./" + path + " names a path that starts with -)");
    } else {
        return path;
    }
    return nullptr;
}

void TakeLogDirectory(OptionReader& r, const char* option) {
    const char* directory = TakePath(r, option, "the directory to put the run directories in");
    if (directory == nullptr) return;
    r.plan.logDirectory = WithTrailingSlash(directory);
    r.plan.customLogDirectory = true;
}

void TakeJsonPath(OptionReader& r, const char* option) {
    const char* path = TakePath(r, option, "the file to write the results to");
    if (path == nullptr) return;
    const std::string earlier = r.plan.jsonPath;
    r.plan.jsonPath = path;
    if (!earlier.empty() && earlier != r.plan.jsonPath)
        r.Warn("-JSON given more than once: the results go to " + r.plan.jsonPath + " only, not " + earlier);
}

void TakeSeed(OptionReader& r, const char* option) {
    const char* value = r.Value();
    if (value == nullptr) return r.Refuse(std::string(option) + " needs a seed after it");
    r.seed = WholeNumberIn(value, 0, kMaxSeed);
    if (!r.seed)
        r.Refuse(std::string(option) + " takes a whole number from 0 to " + std::to_string(kMaxSeed) + Not(value));
}

void TakeDistributions(OptionReader& r, const char* option) {
    const char* list = r.Value();
    if (list == nullptr) return r.Refuse(std::string(option) + " needs a list of key distributions");
    std::string problem;
    std::string repeated;
    if (!ParseDistributionList(list, r.plan.distributions, problem, &repeated)) return r.Refuse(problem);
    if (!repeated.empty()) {
        r.Warn(std::string(option) + " " + list + ": each key distribution runs once (" + repeated +
               " named more than once)");
    }
}

// Lists given more than once add up, as -PEERS's do.
void TakeTypes(OptionReader& r, const char* option) {
    const char* list = r.Value();
    if (list == nullptr) return r.Refuse(std::string(option) + " needs a list of data types");
    std::vector<AppCore::DataType> named;
    std::string problem;
    std::string repeated;
    if (!ParseTypeList(list, named, problem, repeated)) return r.Refuse(problem);
    if (!repeated.empty())
        r.Warn(std::string(option) + " " + list + ": each data type runs once (" + repeated + " named more than once)");
    if (!r.typesChosen) r.plan.types.clear();
    r.typesChosen = true;
    for (const AppCore::DataType type : named) {
        if (std::find(r.plan.types.begin(), r.plan.types.end(), type) == r.plan.types.end())
            r.plan.types.push_back(type);
    }
    std::sort(r.plan.types.begin(), r.plan.types.end());
}

// Read once every option is: the list may name the columns of -GPU, -PAIRS and
// -PEERS given after it (ChooseColumns in ParseCommandLine).
void TakeColumns(OptionReader& r, const char* option) {
    const char* list = r.Value();
    if (list == nullptr) return r.Refuse(std::string(option) + " needs a list of columns");
    if (*list == '\0') return r.Refuse(std::string(option) + ": empty column list");
    if (!r.columnList.empty()) r.columnList += ',';
    r.columnList += list;
    r.columnsChosen = true;
}

// "-PEERS" alone is every peer; a list may follow, as the next argument that is
// no option ("-" starts none of the names, so "-PEERS -x" is every peer, and -x
// is read on its own). Nothing is missing without a list.
void TakePeers(OptionReader& r, const char* option) {
    r.plan.peersEnabled = true;
    std::vector<Peer> named = AllPeers();
    if (r.i + 1 < r.argc && r.argv[r.i + 1][0] != '-') {
        const char* list = r.argv[++r.i];
        std::string problem;
        std::string repeated;
        if (!ParsePeerList(list, named, problem, &repeated)) return r.Refuse(problem);
        if (!repeated.empty())
            r.Warn(std::string(option) + " " + list + ": each peer runs once (" + repeated + " named more than once)");
    }
    for (const Peer peer : named) {
        if (std::find(r.plan.peers.begin(), r.plan.peers.end(), peer) == r.plan.peers.end())
            r.plan.peers.push_back(peer);
    }
    // Column order, however the lists named them.
    std::sort(r.plan.peers.begin(), r.plan.peers.end());
}

// The peers' names, those on one thread and those on every CPU apart, in lines
// that fit under the description column of a 100-column usage text.
std::string PeerNamesText() {
    constexpr std::size_t kWidth = 100 - 18;
    std::string text;
    std::string line;
    const auto add = [&](const std::string& word) {
        if (line.size() + word.size() + 1 > kWidth && !line.empty()) {
            text += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    };
    for (const PeerThreads threads : {PeerThreads::One, PeerThreads::EveryCpu}) {
        std::vector<const char*> names;
        for (const PeerFacts& peer : kPeers) {
            if (peer.threads == threads) names.push_back(peer.name);
        }
        for (std::size_t i = 0; i < names.size(); ++i) add(std::string(names[i]) + (i + 1 < names.size() ? "," : ""));
        add(threads == PeerThreads::One ? "(one thread);" : "(every online CPU); all");
    }
    return text + line;
}

// "13 counts": how many counts the ladder up to `last` has.
std::string CountsOf(std::uint64_t last) { return std::to_string(LadderUpTo(last).size()) + " counts"; }

std::string Range(double low, double high) { return SLib::STR_Typed(low) + " to " + SLib::STR_Typed(high); }

std::vector<OptionRow> MakeRows() {
    const std::string repetitions = std::to_string(kMaxRepetitions);
    const std::string percent = Range(kMinIntervalPercent, kMaxIntervalPercent);
    // clang-format off
    return {
        {{"-GPU", "-gpu"}, "", "", "also sort on the GPU (three more columns)",
         [](OptionReader& r, const char*) { r.plan.gpuEnabled = true; }},
        {{"-QA"}, "", "", "with -GPU: check the GPU permutation against the CPU's; a mismatch stops the run",
         [](OptionReader& r, const char*) { r.plan.qaEnabled = true; }},
        {{"-INFO"}, "", "", "print the system report and stop",
         [](OptionReader& r, const char*) { r.plan.infoOnly = true; }},
        {{"-LIMITS"}, "", "",
         "measure what this machine's memory (and GPU) allows, print it with the\n"
         "system report and stop; creates no directory",
         [](OptionReader& r, const char*) { r.plan.limitsOnly = true; }},
        {{"-MIN", "-min"}, "", CountsOf(1000), "counts 100 to 1,000 (" + CountsOf(1000) + ")",
         [](OptionReader& r, const char*) { r.counts.min = true; }},
        {{"-100K"}, "", CountsOf(100000), "counts 100 to 100,000 (" + CountsOf(100000) + ")",
         TakeLadder<CountSwitches::k100K>},
        {{"-1M"}, "", CountsOf(1000000), "counts 100 to 1,000,000 (" + CountsOf(1000000) + ")",
         TakeLadder<CountSwitches::k1M>},
        {{"-10M"}, "", CountsOf(10000000), "counts 100 to 10,000,000 (" + CountsOf(10000000) + ")",
         TakeLadder<CountSwitches::k10M>},
        {{"-100M"}, "", CountsOf(100000000), "counts 100 to 100,000,000 (" + CountsOf(100000000) + "; the default)",
         TakeLadder<CountSwitches::k100M>},
        {{"-500M"}, "", "", "the default counts, then 250 and 500 million", TakeLadder<CountSwitches::k500M>},
        {{"-1B"}, "", "", "the default counts, then 250, 500, 750 million and 1 billion",
         TakeLadder<CountSwitches::k1B>},
        {{"-S500M", "-S750M", "-S1B"}, "", "", "the single count 500, 750 or 1,000 million", TakeSingleCount},
        {{"-S", "-s"}, "N", "0 to " + std::to_string(kMaxCount), "the single count N", TakeCount},
        {{"-R", "-r"}, "N", "1 to " + repetitions,
         "time every sorter N times (1 to " + repetitions + ") and report the median and spread",
         TakeRepetitions},
        {{"-R"}, "auto", "",
         "time every sorter at least " + std::to_string(MinimumSamplesFor()) +
             " times (what a median's 95% interval needs),\n"
             "then until each interval is within -CI percent of its median or the data\n"
             "set has taken -T seconds (at most " + repetitions + " times)",
         nullptr},
        {{"-CI"}, "PCT", percent,
         "with -R auto: the interval's half-width, " + percent + " percent (default " +
             SLib::STR_Typed(kDefaultIntervalTarget * 100.0) + ")",
         TakeIntervalTarget},
        {{"-T"}, "SECONDS", Range(kMinBudgetSeconds, kMaxBudgetSeconds),
         "with -R auto: the time budget per data set, warm-ups included (default " +
             SLib::STR_Typed(kDefaultBudgetSeconds) + ")",
         TakeBudget},
        {{"-O"}, "DIR", "", "put the run directories under DIR (created if missing)", TakeLogDirectory},
        {{"-D", "-d"}, "LIST", "",
         "key distributions, comma-separated, run in this order: uniform (the\n"
         "default), sorted, reverse, nearly-sorted, few-unique, equal, zipf, skewed; all",
         TakeDistributions},
        {{"-SEED"}, "N", "0 to " + std::to_string(kMaxSeed),
         "seed the key generator with N, 0 to " + std::to_string(kMaxSeed) + " (default: the time in\n"
         "seconds); run.json records the seed, so -SEED with it makes the same keys again",
         TakeSeed},
        {{"-PEERS"}, "[LIST]", "",
         "also time sorters of other libraries, each a column checked against ours: every\n"
         "one, or those of the comma-separated LIST:\n" + PeerNamesText(),
         TakePeers},
        {{"-PAIRS"}, "", "",
         "also time our radix sort that carries each key with its index, checked against\n"
         "ours: on one thread and on every online CPU (two columns before the peers')",
         [](OptionReader& r, const char*) { r.plan.pairsEnabled = true; }},
        {{"-TYPES"}, "LIST", "",
         "time only these data types, comma-separated, in any case: INT, FLOAT, BIGINT,\n"
         "BIGFLOAT (default all four, run in this order whatever the LIST's)",
         TakeTypes},
        {{"-COLUMNS"}, "LIST", "",
         "time only these columns, comma-separated: names as the files spell them\n"
         "(\"CPU 1 Thread\", \"Peer vqsort\"), a peer's -PEERS name, or standard, radix\n"
         "(the four CPU N Thread), gpu, pairs, peers; those of -GPU, -PAIRS, -PEERS need it",
         TakeColumns},
        {{"-JSON"}, "FILE", "", "also write the results to FILE in Google Benchmark's JSON format", TakeJsonPath},
        {{"-h", "-help", "--help", "-?"}, "", "", "print this text and stop",
         [](OptionReader& r, const char*) { r.plan.showUsage = true; }},
    };
    // clang-format on
}

}  // namespace

void OptionReader::Refuse(std::string problem) {
    if (plan.error.empty()) plan.error = std::move(problem);
}

void OptionReader::Warn(std::string warning) { plan.warnings.push_back(std::move(warning)); }

const char* OptionReader::Value() {
    return i + 1 < argc && OptionSpelled(argv[i + 1]) == nullptr ? argv[++i] : nullptr;
}

std::vector<std::string> OptionRow::Forms() const {
    std::vector<std::string> forms;
    for (const char* spelling : spellings)
        forms.push_back(*value == '\0' ? spelling : spelling + std::string(" ") + value);
    return forms;
}

const std::vector<OptionRow>& OptionRows() {
    static const std::vector<OptionRow> rows = MakeRows();
    return rows;
}

const OptionRow* OptionSpelled(const char* arg) {
    for (const OptionRow& row : OptionRows()) {
        if (row.take == nullptr) continue;
        if (std::any_of(row.spellings.begin(), row.spellings.end(), [arg](const char* s) { return Is(arg, s); }))
            return &row;
    }
    return nullptr;
}

std::vector<std::string> OptionSpellings() {
    std::vector<std::string> spellings;
    for (const OptionRow& row : OptionRows()) {
        if (row.take != nullptr) spellings.insert(spellings.end(), row.spellings.begin(), row.spellings.end());
    }
    return spellings;
}
