#include "driver/command_line/ColumnChoice.h"

#include <algorithm>
#include <cctype>

namespace {

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The names of `list`, split at its commas; false with `error` for an empty
// list or name. Names seen before go into `repeated`, each once.
bool SplitList(const std::string& list, const char* option, const char* what, std::vector<std::string>& names,
               std::string& error, std::string& repeated) {
    if (list.empty()) {
        error = std::string(option) + ": empty " + what + " list";
        return false;
    }
    std::vector<std::string> seen;
    for (std::size_t start = 0;;) {
        const std::size_t comma = list.find(',', start);
        std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (name.empty()) {
            error = std::string(option) + ": empty " + what + " name in '" + list + "'";
            return false;
        }
        const auto same = [&name](const std::string& other) { return SameText(name, other); };
        if (std::any_of(names.begin(), names.end(), same) && std::none_of(seen.begin(), seen.end(), same)) {
            repeated += (repeated.empty() ? "" : ", ") + name;
            seen.push_back(name);
        }
        names.push_back(std::move(name));
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

// A short form of -COLUMNS and what it names.
struct ShortForm {
    const char* name;
    bool (*names)(const ColumnFacts&);
};

constexpr ShortForm kShortForms[] = {
    {"standard", [](const ColumnFacts& c) { return c.sorter == ColumnSorter::StandardSort; }},
    {"radix", [](const ColumnFacts& c) { return c.sorter == ColumnSorter::RadixSort; }},
    {"gpu", [](const ColumnFacts& c) { return c.sorter == ColumnSorter::GpuSort; }},
    {"pairs", [](const ColumnFacts& c) { return c.sorter == ColumnSorter::PairSort; }},
    {"peers", [](const ColumnFacts& c) { return c.sorter == ColumnSorter::PeerSort; }},
};

// Every column `name` stands for; empty when it is no name.
std::vector<Column> ColumnsNamed(const std::string& name) {
    std::vector<Column> named;
    for (const ShortForm& form : kShortForms) {
        if (!SameText(name, form.name)) continue;
        for (const ColumnFacts& facts : kColumns) {
            if (form.names(facts)) named.push_back(facts.column);
        }
        return named;
    }
    for (const PeerFacts& peer : kPeers) {
        if (SameText(name, peer.name)) return {PeerColumn(peer.peer)};
    }
    for (const ColumnFacts& facts : kColumns) {
        // One sort fills the GPU's three columns: a name of one is a name of all.
        if (SameText(name, facts.name) && facts.sorter == ColumnSorter::GpuSort) return ColumnsNamed("gpu");
        if (SameText(name, facts.name)) return {facts.column};
    }
    return named;
}

std::string ValidColumnNames() {
    std::string names;
    for (const ShortForm& form : kShortForms) names += std::string(form.name) + ", ";
    for (const PeerFacts& peer : kPeers) names += std::string(peer.name) + ", ";
    for (const ColumnFacts& facts : kColumns)
        names += std::string(facts.name) + (&facts == &kColumns.back() ? "" : ", ");
    return names;
}

// The option a run needs to offer `column`.
std::string NeededFor(Column column, const ColumnOffer& offer) {
    switch (FactsOf(column).sorter) {
    case ColumnSorter::GpuSort: return "-GPU";
    case ColumnSorter::PairSort: return "-PAIRS";
    case ColumnSorter::PeerSort:
        return offer.peers ? std::string("-PEERS with ") + FactsOf(PeerOf(column)).name + " in its list" : "-PEERS";
    default: return {};
    }
}

}  // namespace

bool ParseTypeList(const std::string& list, std::vector<AppCore::DataType>& out, std::string& error,
                   std::string& repeated) {
    std::vector<std::string> names;
    const auto fail = [&error] {
        error += "; valid names: ";
        for (const AppCore::DataTypeFacts& type : AppCore::kDataTypes)
            error += std::string(type.name) + (&type == &AppCore::kDataTypes.back() ? "" : ", ");
        return false;
    };
    if (!SplitList(list, "-TYPES", "data type", names, error, repeated)) return fail();
    out.clear();
    for (const AppCore::DataTypeFacts& type : AppCore::kDataTypes) {
        const auto same = [&type](const std::string& name) { return SameText(name, type.name); };
        if (std::any_of(names.begin(), names.end(), same)) out.push_back(type.type);
    }
    for (const std::string& name : names) {
        const auto same = [&name](const AppCore::DataTypeFacts& type) { return SameText(name, type.name); };
        if (std::none_of(AppCore::kDataTypes.begin(), AppCore::kDataTypes.end(), same)) {
            error = "-TYPES: unknown data type '" + name + "'";
            return fail();
        }
    }
    return true;
}

bool ChooseColumns(const std::string& list, const ColumnOffer& offer, std::vector<Column>& out, std::string& error,
                   std::string& repeated) {
    std::vector<std::string> names;
    if (!SplitList(list, "-COLUMNS", "column", names, error, repeated)) {
        error += "; valid names: " + ValidColumnNames();
        return false;
    }
    std::vector<Column> chosen;
    for (const std::string& name : names) {
        const std::vector<Column> named = ColumnsNamed(name);
        if (named.empty()) {
            error = "-COLUMNS: unknown column '" + name + "'; valid names: " + ValidColumnNames();
            return false;
        }
        bool offered = false;
        for (const Column column : named) {
            const bool here = std::find(offer.columns.begin(), offer.columns.end(), column) != offer.columns.end();
            offered = offered || here;
            if (here) chosen.push_back(column);
        }
        if (!offered) {
            // "peers" without -PEERS, or a column of an option not given.
            const std::string needs =
                SameText(name, "peers") && !offer.peers ? std::string("-PEERS") : NeededFor(named.front(), offer);
            error = "-COLUMNS: " + name + " is timed only with " + needs;
            return false;
        }
    }
    out.clear();
    for (const Column column : offer.columns) {
        if (std::find(chosen.begin(), chosen.end(), column) != chosen.end()) out.push_back(column);
    }
    return true;
}
