#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace TestSupport {

// Output of a run with what changes from run to run and machine to machine
// masked, so that the rest can be held byte for byte against a stored copy:
// - `root` (the run's log directory) becomes "<logs>", run stamps "<stamp>";
// - the system report (from "OS INFO" to the first benchmark banner) keeps its
//   section headers and each other line up to its first ":", drops warnings;
// - the noise report (which cells are noisy) becomes "<noise report>";
// - the huge pages line keeps its text up to the ":", a line of the peers'
//   summary its data set and "fastest";
// - every number with a fraction or an exponent becomes "<t>", a stats row's
//   keys per second "<k>", a memory floor ratio or an end of a spread that is a
//   whole number "<t>", so that a slow machine reads as a fast one.
// `report`: the whole text is a system report (the run conditions file).
inline std::string MaskedRunText(const std::string& text, const std::string& root, bool report = false) {
    std::string out;
    bool inReport = report;
    bool inNoise = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const bool hasNewline = end != std::string::npos;
        if (!hasNewline) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        for (std::size_t at; !root.empty() && (at = line.find(root)) != std::string::npos;)
            line.replace(at, root.size(), "<logs>");
        line = std::regex_replace(line, std::regex(R"(cpu_(gpu_)?\d{12})"), "cpu_$1<stamp>");
        if (line.find("OS INFO") != std::string::npos) inReport = true;
        if (line.rfind("=====", 0) == 0) inReport = false;
        // The program's version names the commit it was built from.
        if (line.rfind("Version: ", 0) == 0) line = "Version: <version>";
        if (line.rfind("Huge pages: ", 0) == 0) line = "Huge pages:";
        // Which column is fastest, and by how much, is the machine's: the peers' summary keeps its data set.
        if (const std::size_t fastest = line.find(": fastest "); fastest != std::string::npos) line.erase(fastest + 9);
        if (line.rfind("Noisy cells", 0) == 0 || line.rfind("Every cell's coefficient", 0) == 0) {
            inNoise = true;
            out += "<noise report>\n";
        }
        if (inNoise) {
            if (line.rfind("Close other programs", 0) == 0 || line.rfind("Every cell's coefficient", 0) == 0)
                inNoise = false;
            continue;
        }
        if (inReport && line.rfind("-----", 0) != 0 && line.rfind(">>>", 0) != 0 &&
            line.rfind("Initialized Log File", 0) != 0) {
            if (line.rfind("WARNING", 0) == 0) continue;
            const std::size_t colon = line.find(':');
            if (colon != std::string::npos) line.erase(colon + 1);
        }
        line = std::regex_replace(line, std::regex(R"(-?\d+\.\d+(e[-+]?\d+)?|-?\d+e[-+]?\d+)"), "<t>");
        line = std::regex_replace(line, std::regex("\\d+\u00d7 its memory floor"), "<t>\u00d7 its memory floor");
        // A spread's ends have four significant digits: from 1000 ms on they are whole numbers.
        line = std::regex_replace(line, std::regex("\\b\\d+( \u2026 )"), "<t>$1");
        line = std::regex_replace(line, std::regex("( \u2026 )\\d+\\b"), "$1<t>");
        // Stats rows, the only lines with both times (";") and keys per second last but two.
        if (line.find(';') != std::string::npos)
            line = std::regex_replace(line, std::regex(R"(,\d+(,(<t>)?,(<t>)?)$)"), ",<k>$1");
        out += line;
        if (hasNewline) out += '\n';
    }
    return out;
}

// The JSON document with its machine context masked and its times as in MaskedRunText.
inline std::string MaskedJson(const std::string& text, const std::string& root) {
    const std::size_t context = text.find("\"context\": {");
    const std::size_t benchmarks = text.find("\"benchmarks\": [");
    std::string out = text;
    if (context != std::string::npos && benchmarks != std::string::npos && context < benchmarks)
        out = text.substr(0, context) + "\"context\": <context>,\n  " + text.substr(benchmarks);
    return MaskedRunText(out, root);
}

// Compares `actual` with the stored file `name` in `directory`; with
// SORTBENCH_UPDATE_GOLDEN=1 in the environment rewrites the file instead.
inline void ExpectGolden(const std::string& directory, const std::string& name, const std::string& actual) {
    const std::string path = directory + "/" + name;
    if (const char* update = std::getenv("SORTBENCH_UPDATE_GOLDEN"); update != nullptr && std::string(update) == "1") {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << actual;
        return;
    }
    std::ifstream in(path, std::ios::binary);
    ASSERT_TRUE(in.good()) << path << " missing (SORTBENCH_UPDATE_GOLDEN=1 writes it)";
    const std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(actual, expected) << "differs from " << path;
}

}  // namespace TestSupport
