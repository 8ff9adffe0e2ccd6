#pragma once

#include <sys/stat.h>

#include <string>

namespace AppCore {

// A file seen as memory through a shared mapping: bytes written through `view`
// reach the file, FlushView forces them to disk.
//
// States: closed (descriptor -1, no view), open without a view (after a failed
// mapping or ClearView) and open with a view. Every operation that can fail
// returns false after printing its own message (perror text on standard error,
// printf text on standard output) and leaves the state its comment names; a
// perror message repeats only after a successful resize in between, so a full
// disk retried cell after cell is reported once per file. A caller that says
// so in its own words clears reportsFailures: nothing is printed, and
// lastError still names the cause.
// Only access "w" permits ResizeFile, WriteToDisk and FlushView; with "r" they
// return false silently. Not thread-safe: one thread at a time.
//
// Growing reserves the added disk blocks before the mapping covers them, so a
// write through the view never lands in an unbacked page (SIGBUS on a full disk).
class MMFile {
public:
    unsigned char* view = nullptr;  // first viewed byte (past a skipped byte-order mark)
    unsigned long fileSize = 0;     // bytes in the file, less a skipped byte-order mark
    unsigned long viewStart = 0;    // file offset the view was requested at
    unsigned long viewLength = 0;   // bytes in the view, never past the end of the file
    std::string path;               // empty when closed
    std::string access;             // "r" or "w"; empty when closed
    unsigned long pageSize = 0;     // sysconf(_SC_PAGESIZE), read at construction
    int fileDescriptor = -1;
    struct stat fileStatus {};    // fstat at open; only st_size is used
    unsigned long mapOffset = 0;  // viewStart rounded down to a page boundary
    unsigned long mapDelta = 0;   // viewStart - mapOffset
    unsigned long mapLength = 0;  // bytes mapped at mapAddress
    unsigned char* mapAddress = nullptr;
    int lastError = 0;            // errno of the latest failed operation; kept after later successes
    bool reportsFailures = true;  // print each failure's message; false leaves the report to the caller

    MMFile();
    MMFile(MMFile&& other) noexcept;
    MMFile& operator=(MMFile&& other) noexcept;
    MMFile(const MMFile&) = delete;
    MMFile& operator=(const MMFile&) = delete;
    ~MMFile();

    // Opens an existing, non-empty file ("w": read-write, "r": read-only) and maps
    // all of it; a byte-order mark is skipped (view advanced, fileSize reduced).
    // An invalid access changes nothing, not even an open file; otherwise the old
    // file is closed first. Fails closed on open/fstat errors and on an empty file
    // ("MMFile - File is empty: <path>"), open without a view when mmap fails.
    bool OpenFile(const char* filePath, std::string fileAccess);
    bool OpenFile(const std::string& filePath, std::string fileAccess);

    // Creates or truncates the file (OpenNewDataFile: 0644 less the umask, never
    // through a link; only where nothing stands when `exclusive`) with access "w"
    // and `size` zero bytes (at least 1), all viewed.
    bool NewFile(const char* filePath, unsigned long size, bool exclusive = false);
    bool NewFile(const std::string& filePath, unsigned long size, bool exclusive = false);

    // Views the whole file from offset 0.
    bool SetView();
    // Views [start, start + length), cut at the end of the file. The mapping starts
    // at the page boundary at or below start; view = mapping + (start - boundary).
    // Failure: "MMFile - mmap failed with error", open without a view.
    bool SetView(unsigned long start, unsigned long length);

    // Changes the file's size to `size` and views all of it: content up to the
    // smaller size is kept, added bytes read as zero and have disk blocks reserved.
    // 0 recreates the file with one zero byte. Failures leave the old size and the
    // old view, with one exception: a failed shrink of the mapping drops the view.
    bool ResizeFile(unsigned long size);

    // Sets the file's size to exactly offset + length and writes the bytes there,
    // then flushes synchronously.
    bool WriteToDisk(const unsigned char* data, unsigned long offset, unsigned long length);

    // Synchronous msync of the whole mapping. False without a mapping or with "r".
    bool FlushView();

    // Reopens the same path with another access type (closing it first); the
    // same access returns true at once.
    bool ChangeAccess(std::string fileAccess);

    // Unmaps; the file stays open.
    void ClearView();
    // Unmaps and closes.
    void ClearAll();

private:
    bool MapRange(unsigned long start, unsigned long length);
    // Gives the file `size` bytes, its blocks reserved when it grows; `diskSize`
    // is set to its length before. On failure the file keeps that length.
    bool ResizeOnDisk(unsigned long size, unsigned long& diskSize);
    // Moves the whole-file mapping to the file's new length; on failure the file
    // and the mapping are left consistent with each other.
    bool RemapWhole(unsigned long size, unsigned long oldSize, unsigned long diskSize);
    void Unmap();
    // perror(what) unless this very failure was the last one reported; records errno.
    void Report(const char* what);

    const char* reportedWhat = nullptr;
    int reportedError = 0;
};

}  // namespace AppCore
