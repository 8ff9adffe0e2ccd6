#pragma once

#include <string>
#include <vector>

#include "driver/sorters/Columns.h"
#include "support/DataTypes.h"

// "-TYPES LIST" and "-COLUMNS LIST": which of a run's data types and columns
// are timed. Both take comma-separated names in any case; neither prints.

// Parses a -TYPES list ("INT,FLOAT", "bigint") into `out`, in table order
// whatever the list's order, each type once. Names given more than once go
// into `repeated`, comma separated. An empty list, an empty or unknown name
// returns false with a one-line `error` that lists the valid names.
bool ParseTypeList(const std::string& list, std::vector<AppCore::DataType>& out, std::string& error,
                   std::string& repeated);

// What the run's other options give it to choose from: the columns they add
// (RunColumns) and whether -GPU, -PAIRS and -PEERS were given.
struct ColumnOffer {
    std::vector<Column> columns;
    bool gpu = false;
    bool pairs = false;
    bool peers = false;
};

// Chooses the columns a -COLUMNS list names from `offer.columns`, in row
// order, into `out`. A name is a column's as the files spell it ("CPU 1
// Thread", "Peer vqsort") or a short form: "standard" (CPU Standard), "radix"
// (the four CPU N Thread columns), "gpu", "pairs", "peers" (every column of
// -PEERS) or a peer's -PEERS name. The three GPU columns come from one sort,
// so any of their names times all three. An empty list or name, an unknown
// name (the `error` lists the valid ones) and a column the run does not offer
// (the `error` names the option it needs) return false. Names given more than
// once go into `repeated`.
bool ChooseColumns(const std::string& list, const ColumnOffer& offer, std::vector<Column>& out, std::string& error,
                   std::string& repeated);
