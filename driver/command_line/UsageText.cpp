#include "driver/command_line/UsageText.h"

#include <algorithm>
#include <string>

#include "driver/command_line/OptionTable.h"

namespace {

// Where every description starts; forms longer than their column keep three
// spaces before it and the description's later lines keep the column.
constexpr std::size_t kDescriptionColumn = 18;
constexpr std::size_t kFormsIndent = 2;
constexpr std::size_t kLeastGap = 3;

std::string RowText(const OptionRow& row) {
    std::string forms;
    for (const std::string& form : row.Forms()) forms += (forms.empty() ? "" : ", ") + form;
    const std::size_t column = kDescriptionColumn - kFormsIndent;
    std::string text = std::string(kFormsIndent, ' ') + forms +
                       std::string(std::max(column - std::min(forms.size(), column), kLeastGap), ' ');
    for (const char c : row.help) text += c == '\n' ? "\n" + std::string(kDescriptionColumn, ' ') : std::string(1, c);
    return text + "\n";
}

std::string MakeUsageText() {
    std::string text =
        "usage: sortbench [options]\n"
        "Times sorters on random INT, FLOAT, BIGINT and BIGFLOAT data and writes one CSV file per type.\n";
    for (const OptionRow& row : OptionRows()) text += RowText(row);
    return text + "Results: " + kDefaultLogDirectory +
           "cpu_[gpu_]YYMMDDhhmmss/bench_<TYPE>.csv, one directory per run\n"
           "(under DIR with -O).\n";
}

}  // namespace

const char* UsageText() {
    static const std::string text = MakeUsageText();
    return text.c_str();
}
