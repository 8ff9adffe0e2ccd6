#include "support/MMFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include "strings/EscapedText.h"
#include "support/AccessType.h"
#include "support/NewDataFile.h"
#include "support/StatusLine.h"

namespace AppCore {

namespace {

unsigned long SystemPageSize() {
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<unsigned long>(size) : 4096;
}

}  // namespace

MMFile::MMFile() : pageSize(SystemPageSize()) {}

MMFile::MMFile(MMFile&& other) noexcept : MMFile() { *this = std::move(other); }

MMFile& MMFile::operator=(MMFile&& other) noexcept {
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
    pageSize = other.pageSize;
    fileDescriptor = std::exchange(other.fileDescriptor, -1);
    fileStatus = std::exchange(other.fileStatus, {});
    mapOffset = std::exchange(other.mapOffset, 0);
    mapDelta = std::exchange(other.mapDelta, 0);
    mapLength = std::exchange(other.mapLength, 0);
    mapAddress = std::exchange(other.mapAddress, nullptr);
    lastError = std::exchange(other.lastError, 0);
    reportsFailures = other.reportsFailures;
    reportedWhat = std::exchange(other.reportedWhat, nullptr);
    reportedError = std::exchange(other.reportedError, 0);
    return *this;
}

void MMFile::Report(const char* what) {
    lastError = errno;
    // A full disk refuses every retry the same way; saying so once per file is enough.
    if (!reportsFailures ||
        (reportedWhat != nullptr && std::strcmp(reportedWhat, what) == 0 && reportedError == lastError))
        return;
    std::perror(what);
    reportedWhat = what;
    reportedError = lastError;
    errno = lastError;
}

MMFile::~MMFile() { ClearAll(); }

bool MMFile::OpenFile(const char* filePath, std::string fileAccess) {
    return OpenFile(std::string(filePath ? filePath : ""), std::move(fileAccess));
}

bool MMFile::OpenFile(const std::string& filePath, std::string fileAccess) {
    if (!IsValidAccessType(fileAccess)) {
        return false;
    }
    // filePath may alias this->path (ChangeAccess); ClearAll empties it.
    const std::string target = filePath;
    ClearAll();
    access = std::move(fileAccess);
    fileDescriptor = open(target.c_str(), (access == "w" ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fileDescriptor < 0) {
        Report("MMFile - CreateFile failed with error");
        ClearAll();
        return false;
    }
    path = target;
    if (fstat(fileDescriptor, &fileStatus) != 0) {
        Report("MMFile - Getting FileStat failed with error");
        ClearAll();
        return false;
    }
    if (fileStatus.st_size == 0) {
        if (reportsFailures) ConsolePrintf("MMFile - File is empty: %s\n", SLib::EscapedControls(target).c_str());
        ClearAll();
        return false;
    }
    fileSize = static_cast<unsigned long>(fileStatus.st_size);
    if (!MapRange(0, fileSize)) {
        return false;
    }
    const unsigned long mark = ByteOrderMarkLength(view, fileSize);
    view += mark;
    fileSize -= mark;
    return true;
}

bool MMFile::NewFile(const char* filePath, unsigned long size, bool exclusive) {
    return NewFile(std::string(filePath ? filePath : ""), size, exclusive);
}

bool MMFile::NewFile(const std::string& filePath, unsigned long size, bool exclusive) {
    const std::string target = filePath;
    ClearAll();
    access.assign(1, 'w');  // assign("w") trips a false -Wrestrict in GCC 12
    fileDescriptor = OpenNewDataFile(target, exclusive);
    if (fileDescriptor < 0) {
        Report("MMFile - CreateFile failed with error");
        ClearAll();
        return false;
    }
    path = target;
    return ResizeFile(size == 0 ? 1 : size);
}

bool MMFile::SetView() {
    if (view != nullptr && viewStart == 0 && viewLength == fileSize) {
        return true;
    }
    return MapRange(0, fileSize);
}

bool MMFile::SetView(unsigned long start, unsigned long length) {
    // A failed mapping keeps the requested range in viewStart/viewLength, so
    // equality alone would report a view that does not exist.
    if (view != nullptr && start == viewStart && length == viewLength) {
        return true;
    }
    return MapRange(start, length);
}

void MMFile::Unmap() {
    if (mapAddress != nullptr) {
        munmap(mapAddress, mapLength);
    }
    mapAddress = nullptr;
    view = nullptr;
}

bool MMFile::MapRange(unsigned long start, unsigned long length) {
    Unmap();
    viewStart = start;
    viewLength = start >= fileSize ? 0 : (length > fileSize - start ? fileSize - start : length);
    mapOffset = start - start % pageSize;
    mapDelta = start - mapOffset;
    // Mapped up to the clamped end only: pages wholly past the end of the file
    // would raise SIGBUS on the first touch.
    mapLength = mapDelta + viewLength;
    const int protection = access == "w" ? PROT_READ | PROT_WRITE : PROT_READ;
    void* address = mapLength == 0 ? MAP_FAILED
                                   : mmap(nullptr, mapLength, protection, MAP_SHARED, fileDescriptor,
                                          static_cast<off_t>(mapOffset));
    if (address == MAP_FAILED) {
        if (mapLength == 0) {
            errno = EINVAL;
        }
        Report("MMFile - mmap failed with error");
        mapLength = 0;
        return false;
    }
    mapAddress = static_cast<unsigned char*>(address);
    view = mapAddress + mapDelta;
    return true;
}

bool MMFile::ResizeFile(unsigned long size) {
    if (access != "w" || fileDescriptor < 0) {
        return false;
    }
    if (size == fileSize) {
        return true;
    }
    if (size == 0) {
        return NewFile(std::string(path), 1);
    }
    unsigned long diskSize = 0;
    if (!ResizeOnDisk(size, diskSize)) {
        return false;
    }
    const unsigned long oldSize = fileSize;
    fileSize = size;
    // A view at an offset is replaced by a view of the whole file; remapping keeps
    // the view at offset 0 so the mapping and the file end together.
    if (mapAddress == nullptr || mapOffset != 0 || mapDelta != 0) {
        return MapRange(0, size);
    }
    return RemapWhole(size, oldSize, diskSize);
}

bool MMFile::ResizeOnDisk(unsigned long size, unsigned long& diskSize) {
    if (size > static_cast<unsigned long>(LONG_MAX)) {
        errno = EFBIG;
        Report("MMFile - ftruncate failed with error");
        return false;
    }
    struct stat current {};
    if (fstat(fileDescriptor, &current) != 0) {
        Report("MMFile - Getting FileStat failed with error");
        return false;
    }
    diskSize = static_cast<unsigned long>(current.st_size);
    const bool growing = size > diskSize;
    if (growing) {
        // Reserving the blocks now turns a full disk into an error here instead of
        // a SIGBUS at the first store into a sparse page of the mapping.
        const int error =
            posix_fallocate(fileDescriptor, static_cast<off_t>(diskSize), static_cast<off_t>(size - diskSize));
        if (error != 0 && error != EOPNOTSUPP && error != ENOSYS) {
            (void)ftruncate(fileDescriptor, static_cast<off_t>(diskSize));
            errno = error;
            Report("MMFile - reserving disk space failed with error");
            return false;
        }
    }
    if (ftruncate(fileDescriptor, static_cast<off_t>(size)) != 0) {
        Report("MMFile - ftruncate failed with error");
        if (growing) {
            (void)ftruncate(fileDescriptor, static_cast<off_t>(diskSize));
        }
        return false;
    }
    return true;
}

bool MMFile::RemapWhole(unsigned long size, unsigned long oldSize, unsigned long diskSize) {
    void* moved = mremap(mapAddress, mapLength, size, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) {
        Report("MMFile - mremap failed with error");
        if (size > diskSize) {
            // The old mapping is intact: give the file its old size back.
            (void)ftruncate(fileDescriptor, static_cast<off_t>(diskSize));
            fileSize = oldSize;
        } else {
            // The file is already shorter than the old mapping, whose tail would fault.
            Unmap();
            viewStart = viewLength = mapOffset = mapDelta = mapLength = 0;
        }
        return false;
    }
    mapAddress = static_cast<unsigned char*>(moved);
    mapLength = size;
    viewStart = 0;
    viewLength = size;
    view = mapAddress;
    reportedWhat = nullptr;
    return true;
}

bool MMFile::WriteToDisk(const unsigned char* data, unsigned long offset, unsigned long length) {
    if (access != "w" || length > ULONG_MAX - offset) {
        return false;
    }
    if (!ResizeFile(offset + length)) {
        return false;
    }
    // ResizeFile keeps a partial view when the size already matches.
    const unsigned long skipped = view ? static_cast<unsigned long>(view - (mapAddress + mapDelta)) : 0;
    if (view == nullptr || viewStart != 0 || skipped + offset + length > viewLength) {
        if (!MapRange(0, fileSize)) {
            return false;
        }
    }
    if (length > 0) {
        std::memcpy(view + offset, data, length);
    }
    return FlushView();
}

bool MMFile::FlushView() {
    if (access != "w" || mapAddress == nullptr) {
        return false;
    }
    if (msync(mapAddress, mapLength, MS_SYNC) != 0) {
        Report("Could not flush memory to disk");
        return false;
    }
    return true;
}

bool MMFile::ChangeAccess(std::string fileAccess) {
    if (fileAccess == access) {
        return true;
    }
    return OpenFile(std::string(path), std::move(fileAccess));
}

void MMFile::ClearView() {
    Unmap();
    mapLength = 0;
    viewStart = 0;
    viewLength = 0;
    mapOffset = 0;
    mapDelta = 0;
}

void MMFile::ClearAll() {
    ClearView();
    if (fileDescriptor >= 0) {
        close(fileDescriptor);
    }
    fileDescriptor = -1;
    fileSize = 0;
    fileStatus = {};
    path.clear();
    access.clear();
    reportedWhat = nullptr;
    reportedError = 0;
}

}  // namespace AppCore
