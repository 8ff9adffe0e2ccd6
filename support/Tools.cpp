#include "support/Tools.h"

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <limits>
#include <stdexcept>

namespace AppCore::Tools {

std::vector<unsigned long> SplitRange(unsigned long start, unsigned long length, unsigned int parts) {
    // parts + 1 boundaries must be countable in 32 bits, and a zero divisor has no meaning.
    if (parts == 0 || parts == std::numeric_limits<unsigned int>::max())
        throw std::invalid_argument("SplitRange: parts must lie in 1 ... 4294967294");
    const unsigned long quotient = length / parts;
    const unsigned long remainder = length % parts;
    std::vector<unsigned long> bounds(parts + 1u);
    bounds[0] = start;
    for (unsigned int i = 0; i < parts; ++i) bounds[i + 1] = bounds[i] + quotient + (i < remainder ? 1 : 0);
    return bounds;
}

std::vector<unsigned long> SplitRange(unsigned long start, unsigned long length, unsigned int maxParts,
                                      unsigned long partLength) {
    if (partLength == 0 || maxParts == 0)
        throw std::invalid_argument("SplitRange: maxParts and partLength must be positive");
    if (length == 0) return {start};
    auto needed = static_cast<unsigned int>(length / partLength);
    if (length % partLength != 0) ++needed;
    return SplitRange(start, length, needed < maxParts ? needed : maxParts);
}

std::vector<unsigned char> GetBinaryFileContents(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) throw std::runtime_error("Could not open \"" + path + "\" file!");
    const std::streampos begin = file.tellg();
    file.seekg(0, std::ios::end);
    const std::streamoff size = file.tellg() - begin;
    std::vector<unsigned char> contents(static_cast<size_t>(size));
    file.seekg(0, std::ios::beg);
    file.read(reinterpret_cast<char*>(contents.data()), size);
    return contents;
}

std::string GetStampYMDHMS() {
    char text[80];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(text, sizeof text, "%y%m%d%H%M%S", &local);
    return text;
}

void OpenWebLink(const std::string& url) {
    std::string command;
    command.reserve(url.size() + 10);
    command = "xdg-open  " + url;
    [[maybe_unused]] int ignored = std::system(command.c_str());
}

}  // namespace AppCore::Tools
