#include "driver/ResultFiles.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <stdexcept>

#include "strings/NumberText.h"

namespace {

constexpr std::array<const char*, 4> kDataTypes{"INT", "FLOAT", "BIGINT", "BIGFLOAT"};

bool IsDirectory(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool MakeDirectory(const std::string& path) {
    if (IsDirectory(path)) return true;
    // Default permissions: 0777 less the umask. A racing creator is as good as ours.
    if (mkdir(path.c_str(), 0777) == 0 || IsDirectory(path)) return true;
    std::printf("Failed to create directory: %s\n", path.c_str());
    std::fflush(stdout);
    return false;
}

}  // namespace

bool CreateRunDirectories(const std::string& logDirectory, const std::string& runDirectory) {
    return MakeDirectory(logDirectory) && MakeDirectory(runDirectory);
}

std::string CountCell(std::uint64_t count) {
    if (count <= static_cast<std::uint64_t>(INT_MAX)) return SLib::STR_FromNum(static_cast<int>(count));
    // A signed 32-bit cell would wrap to a negative number here.
    return std::to_string(count);
}

ResultFiles::~ResultFiles() {
    for (size_t i = files.size(); i-- > 0;) files[i].Close();
}

void ResultFiles::Open(const std::string& runDirectory, const std::vector<std::string>& columnNames) {
    std::string header;
    for (size_t i = 0; i < columnNames.size(); ++i) {
        if (i > 0) header += ',';
        header += columnNames[i];
    }
    for (size_t i = 0; i < files.size(); ++i) {
        files[i].Init(runDirectory, std::string("bench_") + kDataTypes[i] + ".csv", 'w');
        files[i] += header;
    }
}

LogManager& ResultFiles::File(const std::string& dataType) {
    for (size_t i = 0; i < files.size(); ++i) {
        if (dataType == kDataTypes[i]) return files[i];
    }
    throw std::out_of_range("no result file for data type " + dataType);
}

void ResultFiles::AppendCount(const std::string& dataType, std::uint64_t count) {
    // Built by append: "\n" + text trips a false -Wrestrict in GCC 12.
    std::string cell(1, '\n');
    cell += CountCell(count);
    File(dataType) += cell;
}

void ResultFiles::AppendTime(const std::string& dataType, double milliseconds) {
    std::string cell(1, ',');
    cell += SLib::STR_FromNum(milliseconds, 0, 12, 15);
    File(dataType) += cell;
}
