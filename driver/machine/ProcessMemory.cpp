#include "driver/machine/ProcessMemory.h"

#include <charconv>
#include <fstream>

namespace {

// The kB figure of a line "<key>   1234 kB"; unset for another key.
std::optional<std::uint64_t> KilobytesOf(const std::string& line, const std::string& key) {
    if (line.compare(0, key.size(), key) != 0) return std::nullopt;
    const char* begin = line.data() + key.size();
    const char* end = line.data() + line.size();
    while (begin != end && (*begin == ' ' || *begin == '\t')) ++begin;
    std::uint64_t kilobytes = 0;
    const auto [stop, error] = std::from_chars(begin, end, kilobytes);
    if (error != std::errc() || stop == begin || std::string_view(stop, end - stop) != " kB") return std::nullopt;
    return kilobytes;
}

}  // namespace

std::optional<ProcessMemory> ReadProcessMemory(const std::string& path) {
    std::ifstream file(path);
    std::optional<std::uint64_t> anonymous;
    std::optional<std::uint64_t> huge;
    for (std::string line; std::getline(file, line);) {
        if (const auto kilobytes = KilobytesOf(line, "Anonymous:")) anonymous = kilobytes;
        if (const auto kilobytes = KilobytesOf(line, "AnonHugePages:")) huge = kilobytes;
    }
    if (!anonymous || !huge) return std::nullopt;
    return ProcessMemory{.anonymousBytes = *anonymous * 1024, .hugePageBytes = *huge * 1024};
}
