#include "support/BasicFile.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "strings/EscapedText.h"
#include "support/AccessType.h"
#include "support/NewDataFile.h"
#include "support/StatusLine.h"

namespace AppCore {

namespace {

// `error` is taken before the path is escaped, which may allocate and so touch errno.
void ReportOpenFailure(const std::string& path, int error) {
    ConsolePrintf("BasicFile - Error opening file %s with error no: %d\n", SLib::EscapedControls(path).c_str(), error);
}

// Zero-filled so that a flushed block never carries stale heap bytes into a file.
unsigned char* AllocateZeroed(unsigned long length) {
    if (length == 0) {
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(std::calloc(length, 1));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

// The file at `path` as a new data file behind a stream, or null.
std::FILE* OpenNewStream(const std::string& path, bool exclusive) {
    const int fd = OpenNewDataFile(path, exclusive);
    if (fd < 0) {
        return nullptr;
    }
    std::FILE* stream = fdopen(fd, "wb+");
    if (stream == nullptr) {
        close(fd);
    }
    return stream;
}

bool SeekTo(std::FILE* stream, unsigned long offset) {
    return offset <= static_cast<unsigned long>(LONG_MAX) &&
           std::fseek(stream, static_cast<long>(offset), SEEK_SET) == 0;
}

}  // namespace

BasicFile::BasicFile(BasicFile&& other) noexcept { *this = std::move(other); }

BasicFile& BasicFile::operator=(BasicFile&& other) noexcept {
    if (this == &other) {
        return *this;
    }
    ClearAll();
    view = std::exchange(other.view, nullptr);
    fileSize = std::exchange(other.fileSize, 0);
    viewStart = std::exchange(other.viewStart, 0);
    viewLength = std::exchange(other.viewLength, 0);
    path = std::exchange(other.path, std::string());
    access = std::exchange(other.access, std::string());
    stream = std::exchange(other.stream, nullptr);
    block = std::exchange(other.block, nullptr);
    reportsFailures = other.reportsFailures;
    return *this;
}

BasicFile::~BasicFile() { ClearAll(); }

bool BasicFile::OpenFile(const char* filePath, std::string fileAccess) {
    return OpenFile(std::string(filePath ? filePath : ""), std::move(fileAccess));
}

bool BasicFile::OpenFile(const std::string& filePath, std::string fileAccess) {
    if (!IsValidAccessType(fileAccess)) {
        return false;
    }
    const std::string target = filePath;
    ClearAll();
    stream = std::fopen(target.c_str(), fileAccess == "r" ? "rb" : "rb+");
    if (stream == nullptr) {
        if (reportsFailures) ReportOpenFailure(target, errno);
        return false;
    }
    access = std::move(fileAccess);
    path = target;
    long end = -1;
    if (std::fseek(stream, 0, SEEK_END) == 0) {
        end = std::ftell(stream);
    }
    if (end < 0) {
        if (reportsFailures) ReportOpenFailure(target, errno);
        ClearAll();
        return false;
    }
    fileSize = static_cast<unsigned long>(end);
    std::rewind(stream);
    if (!SetView(0, fileSize)) {
        return false;
    }
    if (viewLength > 0) {
        const unsigned long mark = ByteOrderMarkLength(view, fileSize);
        view += mark;
        fileSize -= mark;
    }
    return true;
}

bool BasicFile::NewFile(const char* filePath, unsigned long size, bool exclusive) {
    return NewFile(std::string(filePath ? filePath : ""), size, exclusive);
}

bool BasicFile::NewFile(const std::string& filePath, unsigned long size, bool exclusive) {
    const std::string target = filePath;
    ClearAll();
    stream = OpenNewStream(target, exclusive);
    if (stream == nullptr) {
        if (reportsFailures)
            ConsolePrintf("BasicFile - Error creating new file %s\n", SLib::EscapedControls(target).c_str());
        return false;
    }
    access.assign(1, 'w');  // assign("w") trips a false -Wrestrict in GCC 12
    path = target;
    viewStart = 0;
    fileSize = viewLength = size == 0 ? 1 : size;
    block = view = AllocateZeroed(viewLength);
    return true;
}

bool BasicFile::SetView() {
    if (block != nullptr && viewStart == 0 && viewLength == fileSize) {
        return true;
    }
    return SetView(0, fileSize);
}

bool BasicFile::SetView(unsigned long start, unsigned long length) {
    if (start == viewStart && length == viewLength && (block != nullptr || length == 0)) {
        return true;
    }
    ClearView();
    if (stream == nullptr) {
        return false;
    }
    viewStart = start;
    viewLength = start >= fileSize ? 0 : (length > fileSize - start ? fileSize - start : length);
    block = view = AllocateZeroed(viewLength);
    const unsigned long count = SeekTo(stream, start) ? std::fread(block, 1, viewLength, stream) : 0;
    if (count < viewLength) {
        if (reportsFailures)
            ConsolePrintf("BasicFile - Error reading file, read size: %u\n", static_cast<unsigned>(count));
        ClearView();
        return false;
    }
    return true;
}

bool BasicFile::ResizeFile(unsigned long size) {
    if (access != "w" || stream == nullptr) {
        return false;
    }
    if (size == fileSize) {
        return true;
    }
    if (size == 0) {
        return NewFile(std::string(path), 1);
    }
    // The file is rewritten from the block, so the block must hold all of it first.
    if (block == nullptr || viewStart != 0 || viewLength < fileSize) {
        if (!SetView(0, fileSize)) {
            return false;
        }
    }
    std::fclose(stream);
    stream = OpenNewStream(path, false);
    if (stream == nullptr) {
        if (reportsFailures)
            ConsolePrintf("BasicFile - Error creating new file %s\n", SLib::EscapedControls(path).c_str());
        ClearAll();
        return false;
    }
    auto* resized = static_cast<unsigned char*>(std::realloc(block, size));
    if (resized == nullptr) {
        throw std::bad_alloc();
    }
    if (size > viewLength) {
        std::memset(resized + viewLength, 0, size - viewLength);
    }
    block = view = resized;
    fileSize = size;
    viewStart = 0;
    viewLength = size;
    (void)FlushView();
    return true;
}

bool BasicFile::WriteToDisk(const unsigned char* data, unsigned long offset, unsigned long length) {
    if (access != "w" || stream == nullptr || length > ULONG_MAX - offset) {
        return false;
    }
    const unsigned long count = SeekTo(stream, offset) ? std::fwrite(data, 1, length, stream) : 0;
    if (count == length && std::fflush(stream) == 0) {
        if (offset + length > fileSize) {
            fileSize = offset + length;
        }
        return true;
    }
    if (reportsFailures)
        ConsolePrintf("BasicFile - Error writing file, characters written: %f\n", static_cast<double>(count));
    ClearAll();
    return false;
}

bool BasicFile::FlushView() {
    if (access != "w" || stream == nullptr) {
        return false;
    }
    if (viewLength == 0) {
        return true;
    }
    // Written from the block's start at the block's own offset: the view pointer may
    // sit past a byte-order mark, and a view at an offset belongs at that offset.
    const unsigned long items = SeekTo(stream, viewStart) ? std::fwrite(block, viewLength, 1, stream) : 0;
    if (items == 1 && std::fflush(stream) == 0) {
        return true;
    }
    if (reportsFailures) {
        ConsolePrintf("BasicFile - Error writing file, characters written: %f\n", static_cast<double>(items));
        ConsolePrintf("    outSize: %i, ViewSize: %i \n", static_cast<int>(items), static_cast<int>(viewLength));
        if (std::feof(stream)) {
            ConsolePrintf("    Hit EOF condition.\n");
        } else {
            std::perror("    error:");
        }
    }
    ClearAll();
    return false;
}

bool BasicFile::ChangeAccess(std::string fileAccess) {
    if (fileAccess == access) {
        return true;
    }
    return OpenFile(std::string(path), std::move(fileAccess));
}

void BasicFile::ClearView() {
    std::free(block);
    block = nullptr;
    view = nullptr;
    viewStart = 0;
    viewLength = 0;
}

void BasicFile::ClearAll() {
    if (stream != nullptr) {
        std::fclose(stream);
        stream = nullptr;
    }
    fileSize = 0;
    path.clear();
    access.clear();
    ClearView();
}

}  // namespace AppCore
