#include "cpu_sort/TextStableSort.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cpu_sort/CollationTables.h"

namespace {

// Records laid end to end in one text buffer.
struct Records {
    std::string text;
    std::vector<unsigned long> offsets;
    std::vector<unsigned short> lengths;

    explicit Records(const std::vector<std::string>& records) {
        for (const std::string& record : records) {
            offsets.push_back(text.size());
            lengths.push_back(static_cast<unsigned short>(record.size()));
            text += record;
        }
    }

    std::vector<std::string> Sorted(bool caseSensitive) const {
        std::vector<unsigned> indices(offsets.size());
        EvalCore::TextStableSort(reinterpret_cast<const unsigned char*>(text.data()), offsets.data(), lengths.data(),
                                 indices.size(), indices.data(), true, caseSensitive ? 1 : 0);
        std::vector<std::string> sorted;
        for (unsigned i : indices) sorted.push_back(text.substr(offsets[i], lengths[i]));
        return sorted;
    }
};

using Texts = std::vector<std::string>;

TEST(TextStableSort, orders_case_pairs_and_keeps_equal_records_in_input_order) {
    const Records records({"b", "A", "a", "B"});
    EXPECT_EQ(records.Sorted(true), (Texts{"A", "a", "B", "b"}));
    EXPECT_EQ(records.Sorted(false), (Texts{"A", "a", "b", "B"}));
}

TEST(TextStableSort, prefixes_and_empty_records_sort_first) {
    const Records records({"abc", "ab", "", "b"});
    EXPECT_EQ(records.Sorted(true), (Texts{"", "ab", "abc", "b"}));
    EXPECT_EQ(records.Sorted(false), (Texts{"", "ab", "abc", "b"}));
}

TEST(TextStableSort, keeps_F_and_f_apart_without_case) {
    EXPECT_EQ(Records({"f", "F", "g", "G"}).Sorted(false), (Texts{"F", "f", "g", "G"}));
}

TEST(TextStableSort, empty_input_with_initialisation_returns) {
    unsigned index = 5;
    EvalCore::TextStableSort(nullptr, nullptr, nullptr, 0, &index, true, 1);
    EXPECT_EQ(index, 5u);
}

// Reference: each record's weight string, compared lexicographically, with
// std::stable_sort over the given starting order.
std::vector<unsigned> WeightOrder(const std::string& text, const std::vector<unsigned long>& offsets,
                                  const std::vector<unsigned short>& lengths, std::vector<unsigned> indices,
                                  const unsigned char* table) {
    std::vector<std::basic_string<unsigned char>> weights;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        std::basic_string<unsigned char> weight;
        for (unsigned short k = 0; k < lengths[i]; ++k)
            weight += table[static_cast<unsigned char>(text[offsets[i] + k])];
        weights.push_back(weight);
    }
    std::stable_sort(indices.begin(), indices.end(), [&](unsigned a, unsigned b) { return weights[a] < weights[b]; });
    return indices;
}

TEST(TextStableSort, matches_weight_string_order_on_overlapping_random_records) {
    std::mt19937_64 random(11);
    // Few distinct bytes, so that many records share prefixes or are equal.
    const std::string alphabet = "aAbBfF 0\x7f\xe9\xc9";
    std::string text(4'000, ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    std::vector<unsigned long> offsets(2'000);
    std::vector<unsigned short> lengths(offsets.size());
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        offsets[i] = random() % 3'990;
        lengths[i] = static_cast<unsigned short>(random() % 6);
    }
    std::vector<unsigned> start(offsets.size());
    for (unsigned& entry : start) entry = random() % offsets.size();

    for (int caseSensitive : {1, 0}) {
        std::vector<unsigned> indices = start;
        EvalCore::TextStableSort(reinterpret_cast<const unsigned char*>(text.data()), offsets.data(), lengths.data(),
                                 indices.size(), indices.data(), false, caseSensitive);
        const unsigned char* table = caseSensitive ? EvalCore::ascii_map_with_case : EvalCore::ascii_map_no_case;
        EXPECT_EQ(indices, WeightOrder(text, offsets, lengths, start, table)) << "caseSensitive " << caseSensitive;
    }
}

}  // namespace
