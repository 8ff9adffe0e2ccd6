// The option table is the one home of the options: the usage text is made from
// it, and the README's table and docs/options.md may not drift from it, ranges,
// ladders and names included.
#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "driver/command_line/OptionTable.h"
#include "driver/command_line/UsageText.h"

namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Whether `text` holds `phrase` as words of its own: "5 counts" is not in
// "25 counts", "sorted" not in "nearly-sorted", "1 to 1000" not in "1 to 10000".
bool Mentions(const std::string& text, const std::string& phrase) {
    const auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-'; };
    for (std::size_t at = text.find(phrase); at != std::string::npos; at = text.find(phrase, at + 1)) {
        const std::size_t end = at + phrase.size();
        if ((at == 0 || (!word(text[at - 1]) && text[at - 1] != '.')) && (end == text.size() || !word(text[end])))
            return true;
    }
    return false;
}

// The README's table of options: each row's first cell ("`-S N`, `-s N`") and the rest.
std::vector<std::pair<std::string, std::string>> ReadmeTable() {
    std::istringstream readme(Slurp(SORTBENCH_SOURCE_DIR "/README.md"));
    std::vector<std::pair<std::string, std::string>> rows;
    for (std::string line; std::getline(readme, line);) {
        if (line.rfind("| `-", 0) != 0) continue;
        const std::size_t bar = line.find(" | ");
        rows.emplace_back(line.substr(2, bar - 2), line.substr(bar + 3));
    }
    return rows;
}

// The README's effect of the option whose first form starts with `form`.
std::string ReadmeEffect(const std::string& form) {
    for (const auto& [forms, effect] : ReadmeTable()) {
        if (forms.rfind("`" + form, 0) == 0) return effect;
    }
    return {};
}

}  // namespace

TEST(OptionDocs, the_usage_text_and_the_readme_name_every_option) {
    const std::string usage = UsageText();
    const std::string readme = Slurp(SORTBENCH_SOURCE_DIR "/README.md");
    ASSERT_FALSE(readme.empty());
    for (const std::string& spelling : OptionSpellings()) {
        // As a word of its own: "-S" must not be found inside "-S1B".
        const auto named = [&](const std::string& text, const std::string& before, const std::string& after) {
            for (std::size_t at = text.find(before + spelling); at != std::string::npos;
                 at = text.find(before + spelling, at + 1)) {
                const std::size_t end = at + before.size() + spelling.size();
                if (end == text.size() || after.find(text[end]) != std::string::npos) return true;
            }
            return false;
        };
        EXPECT_TRUE(named(usage, " ", " ,\n")) << spelling << " is not in the usage text";
        EXPECT_TRUE(named(readme, "`", " `")) << spelling << " is not in the README's table";
    }
}

TEST(OptionDocs, the_readme_table_has_the_rows_of_the_option_table_in_order_each_with_its_range) {
    const auto table = ReadmeTable();
    const std::vector<OptionRow>& rows = OptionRows();
    ASSERT_EQ(table.size(), rows.size()) << "the README's table and the option table have other rows";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::string forms;
        for (const std::string& form : rows[i].Forms()) forms += (forms.empty() ? "`" : ", `") + form + "`";
        EXPECT_EQ(table[i].first, forms) << "row " << i;
        if (!rows[i].range.empty())
            EXPECT_TRUE(Mentions(table[i].second, rows[i].range)) << forms << " does not say " << rows[i].range;
    }
}

TEST(OptionDocs, the_docs_give_every_value_range_the_ladder_and_every_name_a_list_takes) {
    // Its paragraphs are wrapped: a line break reads as a space.
    std::string details = Slurp(SORTBENCH_SOURCE_DIR "/docs/options.md");
    ASSERT_FALSE(details.empty());
    std::replace(details.begin(), details.end(), '\n', ' ');
    for (const OptionRow& row : OptionRows()) {
        if (*row.value != '\0' && !row.range.empty())
            EXPECT_TRUE(Mentions(details, row.range)) << row.spellings.front() << ": " << row.range;
    }
    std::string ladder;
    for (const std::uint64_t count : StandardLadder()) ladder += (ladder.empty() ? "" : ", ") + std::to_string(count);
    EXPECT_TRUE(Mentions(details, ladder)) << "docs/options.md does not give the standard ladder";

    const std::string peers = ReadmeEffect("-PEERS");
    for (const PeerFacts& peer : kPeers) {
        const std::string name = "`" + std::string(peer.name) + "`";
        EXPECT_NE(peers.find(name), std::string::npos) << name << " is not in the README's -PEERS row";
        EXPECT_NE(details.find(name), std::string::npos) << name << " is not in docs/options.md";
    }
    const std::string usage = UsageText();
    const std::string distributions = ReadmeEffect("-D");
    for (const Distribution distribution : AllDistributions()) {
        const std::string name = DistributionName(distribution);
        EXPECT_NE(distributions.find("`" + name + "`"), std::string::npos) << name << " is not in the README's -D row";
        EXPECT_TRUE(Mentions(usage, name)) << name << " is not in the usage text";
    }
}
