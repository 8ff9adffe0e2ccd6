#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/command_line/CountLists.h"
#include "driver/command_line/RunPlan.h"

// The one table of the command line's options: each row names an option, says
// what value it takes and the range of that value, carries its line of the usage
// text and reads it into the plan. The usage text is made from the rows, and a
// test holds the README's table of options and docs/options.md to them.

// One reading of the command line: the arguments, the one being read, and what
// they have decided so far.
struct OptionReader {
    int argc;
    const char* const* argv;
    int i;  // the argument being read; an option with a value advances it past the value
    RunPlan& plan;
    CountSwitches counts;
    std::vector<const char*> autoTuning;  // "-CI" and "-T" as given: they act on -R auto only
    std::optional<std::uint64_t> seed;    // "-SEED N" (the last one given); the clock's without it
    std::string columnList;               // every "-COLUMNS LIST" joined: chosen once the run's columns are known
    bool columnsChosen = false;           // "-COLUMNS" was given
    bool typesChosen = false;             // "-TYPES" was given: plan.types holds its lists' types only

    // The first bad value is the one reported.
    void Refuse(std::string problem);
    void Warn(std::string warning);
    // The argument after this one, taken as the option's value; nullptr when
    // there is none or it is an option of the table. Then the value is missing,
    // which is the one problem reported, and that option is read as itself:
    // "-CI -S 100" refuses -CI alone, with -S 100 taken as given. Anything else
    // is the value, good or bad, and is never read again.
    const char* Value();
};

// Reads the option `spelling` (and any value after it) into the reader's plan.
using TakeOption = void (*)(OptionReader& reader, const char* spelling);

struct OptionRow {
    std::vector<const char*> spellings;  // every exact spelling, in the order the usage text names them
    const char* value;                   // the value's name after each spelling ("N", "[LIST]", "auto"); "" for none
    std::string range;                   // the values it takes ("1 to 1000"), or the counts a ladder has
                                         // ("13 counts"); "" when it has no range. Usage text and docs say it so.
    std::string help;                    // its usage text; each "\n" goes on under the description column
    TakeOption take;                     // nullptr for a further form of the option of an earlier row ("-R auto")

    // Each spelling with the value after it: "-S N", "-s N".
    std::vector<std::string> Forms() const;
};

// Every option, in the order of the usage text and the README's table.
const std::vector<OptionRow>& OptionRows();

// The row that reads `arg`, spelled exactly; nullptr when `arg` is no option.
const OptionRow* OptionSpelled(const char* arg);

// Every spelling the command line takes, in the table's order: what the usage
// text and the README's table must each name.
std::vector<std::string> OptionSpellings();
