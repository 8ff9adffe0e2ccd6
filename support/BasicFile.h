#pragma once

#include <cstdio>
#include <string>

namespace AppCore {

// A file seen as memory through a heap copy of a range of it, read and written
// with C standard I/O. Same operations, states and access rules as MMFile; the
// view only reaches the file through FlushView, ResizeFile or WriteToDisk.
// Failures print their messages on standard output unless reportsFailures is
// cleared by a caller that reports them in its own words.
// Not thread-safe: one thread at a time.
class BasicFile {
public:
    unsigned char* view = nullptr;  // first viewed byte (past a skipped byte-order mark)
    unsigned long fileSize = 0;     // bytes in the file, less a skipped byte-order mark
    unsigned long viewStart = 0;    // file offset of the block
    unsigned long viewLength = 0;   // bytes in the block
    std::string path;               // empty when closed
    std::string access;             // "r" or "w"; empty when closed
    std::FILE* stream = nullptr;
    unsigned char* block = nullptr;  // start of the heap block; view may point past a mark
    bool reportsFailures = true;     // print each failure's message; false leaves the report to the caller

    BasicFile() = default;
    BasicFile(BasicFile&& other) noexcept;
    BasicFile& operator=(BasicFile&& other) noexcept;
    BasicFile(const BasicFile&) = delete;
    BasicFile& operator=(const BasicFile&) = delete;
    ~BasicFile();

    // Opens an existing file ("r": "rb", "w": "rb+") and reads all of it into the
    // block, skipping a byte-order mark. An empty file opens with an empty view.
    // An invalid access changes nothing. Failure to open:
    // "BasicFile - Error opening file <path> with error no: <errno>", closed.
    bool OpenFile(const char* filePath, std::string fileAccess);
    bool OpenFile(const std::string& filePath, std::string fileAccess);

    // Creates or truncates the file (OpenNewDataFile: 0644 less the umask, never
    // through a link; only where nothing stands when `exclusive`) with access "w"
    // and a zero-filled block of `size` bytes (at least 1); nothing reaches the
    // file until it is flushed.
    bool NewFile(const char* filePath, unsigned long size, bool exclusive = false);
    bool NewFile(const std::string& filePath, unsigned long size, bool exclusive = false);

    // Reads [start, start + length), cut at the end of the file, into a new block.
    // Short read: "BasicFile - Error reading file, read size: <count>", no view.
    bool SetView(unsigned long start, unsigned long length);
    bool SetView();

    // Rewrites the file with `size` bytes: the whole old content up to the smaller
    // size (read in first when the view does not hold it), zeros after it.
    // 0 recreates the file with one zero byte.
    bool ResizeFile(unsigned long size);

    // Writes the bytes at `offset`; the file only grows. The view is not updated.
    // A short write prints its count and closes the file.
    bool WriteToDisk(const unsigned char* data, unsigned long offset, unsigned long length);

    // Writes the block back at its own file offset (viewStart). A short write prints
    // the count, the sizes and the cause, and closes the file.
    bool FlushView();

    bool ChangeAccess(std::string fileAccess);
    void ClearView();
    void ClearAll();
};

}  // namespace AppCore
