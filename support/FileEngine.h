#pragma once

#include <string>

#include "support/BasicFile.h"
#include "support/MMFile.h"

namespace AppCore {

// One file behind either backend: every call goes to the backend `useMemoryMap`
// selects, and `data` then holds that backend's view (null without a view, so
// null after ClearView, ClearAll and when no file is open). Contracts, messages
// and failure states are those of MMFile and BasicFile. Movable, not copyable;
// one thread at a time.
class FileEngine {
public:
    unsigned char* data = nullptr;
    bool useMemoryMap = true;
    BasicFile basicFile;
    MMFile mmFile;

    explicit FileEngine(bool memoryMap = true) : useMemoryMap(memoryMap) {}
    FileEngine(FileEngine&& other) noexcept;
    FileEngine& operator=(FileEngine&& other) noexcept;
    FileEngine(const FileEngine&) = delete;
    FileEngine& operator=(const FileEngine&) = delete;
    ~FileEngine() = default;  // the backends close themselves

    // Only switches the backend: a file open in the other one stays open and idle,
    // and `data` keeps its value until the next operation.
    void SetEngine(bool memoryMap) { useMemoryMap = memoryMap; }

    // Whether both backends print their failures' messages (the default), or
    // leave them to a caller that reports them in its own words.
    void ReportFailures(bool report) { basicFile.reportsFailures = mmFile.reportsFailures = report; }

    // fileSize of the active backend.
    unsigned long FileSize() const { return useMemoryMap ? mmFile.fileSize : basicFile.fileSize; }

    bool OpenFile(const char* path, std::string access);
    bool OpenFile(const std::string& path, std::string access);
    bool NewFile(const char* path, unsigned long size, bool exclusive = false);
    bool NewFile(const std::string& path, unsigned long size, bool exclusive = false);
    bool SetView();
    bool SetView(unsigned long start, unsigned long length);
    bool ResizeFile(unsigned long size);
    bool WriteToDisk(const unsigned char* bytes, unsigned long offset, unsigned long length);
    bool FlushView();
    bool ChangeAccess(std::string access);
    void ClearView();
    void ClearAll();

private:
    template <typename Call>
    auto Forward(Call call);
};

}  // namespace AppCore
