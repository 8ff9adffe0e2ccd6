#include "logging/LogManager.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>

#include "logging/SignalSafeTrim.h"
#include "strings/EscapedText.h"

std::string LogManager::TStampFormat = "%F %T";
bool LogManager::TShowThread = false;
unsigned long LogManager::TIndentSize = 22;
// Defined after the format statics so that they exist when it is built.
LogManager LogManager::Global;

namespace {

// Messages of the manager go out at once, whatever the buffering of stdout.
void PrintLine(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
}

std::string FormatLocalTime(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::ostringstream text;
    text << std::put_time(&local, format);
    return text.str();
}

// The files some manager of this process holds open, by device and inode. Two
// managers on one file would each truncate it and write over the other's text,
// so a second one is refused whatever path names the file.
class HeldFiles {
public:
    using Identity = std::pair<dev_t, ino_t>;

    static std::optional<Identity> IdentityOf(const std::string& path) {
        struct stat status {};
        if (stat(path.c_str(), &status) != 0) return std::nullopt;
        return Identity{status.st_dev, status.st_ino};
    }
    static std::optional<Identity> IdentityOf(int fileDescriptor) {
        struct stat status {};
        if (fileDescriptor < 0 || fstat(fileDescriptor, &status) != 0) return std::nullopt;
        return Identity{status.st_dev, status.st_ino};
    }

    bool Holds(const Identity& file) {
        std::lock_guard<std::mutex> lock(mutex);
        return held.count(file) != 0;
    }
    void Add(const Identity& file) {
        std::lock_guard<std::mutex> lock(mutex);
        held.insert(file);
    }
    void Remove(const Identity& file) {
        std::lock_guard<std::mutex> lock(mutex);
        held.erase(file);
    }

private:
    std::mutex mutex;
    std::set<Identity> held;
};

HeldFiles& Held() {
    static HeldFiles files;
    return files;
}

}  // namespace

LogManager::LogManager() = default;

LogManager::~LogManager() {
    std::lock_guard<std::mutex> lock(mutex);
    FlushStream();
    FlushText();
    TrimAndClose();
}

bool LogManager::Init(const std::string& dir, const std::string& name, char mode, const std::string& reachedDir) {
    if (dir.empty() || name.empty()) {
        return true;
    }
    filePath = dir.back() == '/' ? dir + name : dir + "/" + name;
    openPath = reachedDir.empty() ? filePath : reachedDir + name;
    // The old file is closed below; its descriptor number may come back for the new one.
    KeepTrimmedOnSignal(false);
    HoldFile(false);
    const std::optional<HeldFiles::Identity> existing = HeldFiles::IdentityOf(openPath);
    if (existing && Held().Holds(*existing)) {
        // Opening it would truncate or overwrite text another manager owns.
        return InitFailed();
    }
    if (mode == 'w' || mode == 'n') {
        return CreateNew(mode == 'n');
    }
    if (mode != 'a') {
        // The old file (if any) must not receive text meant for the new path.
        engine.ClearAll();
        PrintLine(std::string("Failed to initialize Log File. Invalid mode: ") + mode + "\n");
        return false;
    }
    std::error_code error;
    if (!std::filesystem::exists(openPath, error)) {
        return CreateNew();
    }
    if (engine.OpenFile(openPath, "w")) {
        // The file was never trimmed if its writer died: its text ends at the
        // first byte of the zero padding.
        writePos = engine.FileSize();
        while (writePos > 0 && engine.data[writePos - 1] == 0) {
            --writePos;
        }
        return Initialized();
    }
    const auto size = std::filesystem::file_size(openPath, error);
    if (!error && size == 0) {
        return CreateNew();  // an empty file cannot be mapped
    }
    return InitFailed();
}

bool LogManager::CreateNew(bool exclusive) {
    if (!engine.NewFile(openPath, 1, exclusive)) {
        return InitFailed();
    }
    writePos = 0;
    return Initialized();
}

bool LogManager::Initialized() {
    KeepTrimmedOnSignal(true);
    HoldFile(true);
    PrintLine("Initialized Log File: " + SLib::EscapedControls(filePath) + "\n");
    return true;
}

bool LogManager::InitFailed() {
    engine.ClearAll();
    PrintLine("Failed to initialize Log File: " + SLib::EscapedControls(filePath) + "\n");
    filePath.clear();
    return false;
}

LogManager& LogManager::operator+=(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    FlushStream();
    pendingText += text;
    WriteThrough();
    return *this;
}

void LogManager::AppendLinePrefix() {
    if (TShowThread) {
        pendingText += '(';
        pendingText += ThreadStamp();
        pendingText += ')';
    }
}

LogManager& LogManager::operator<<(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    FlushStream();
    AppendLinePrefix();
    pendingText += '[';
    pendingText += TimeStamp();
    pendingText += "] ";
    pendingText += text;
    pendingText += '\n';
    FlushText();
    return *this;
}

LogManager& LogManager::operator<<=(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    FlushStream();
    AppendLinePrefix();
    pendingText.append(TIndentSize, ' ');
    pendingText += text;
    pendingText += '\n';
    FlushText();
    return *this;
}

std::string LogManager::GetLogString() {
    std::lock_guard<std::mutex> lock(mutex);
    if (filePath.empty() || writePos == 0 || engine.data == nullptr) {
        return std::string();
    }
    const unsigned long length = std::min(writePos, engine.FileSize());
    return std::string(reinterpret_cast<const char*>(engine.data), length);
}

void LogManager::FlushText() { WriteThrough(); }

void LogManager::FlushStream() {
    std::string streamed = textStream.str();
    if (!streamed.empty()) {
        pendingText += streamed;
        textStream.str(std::string());
    }
    textStream.clear();
}

void LogManager::WriteThrough() {
    if (pendingText.empty() || filePath.empty() || engine.data == nullptr) {
        return;
    }
    const unsigned long length = pendingText.size();
    const unsigned long end = writePos + length;
    if (engine.FileSize() < end) {
        // A refused grow leaves the text waiting for the next write. The engine
        // says nothing of it: the writer of the text names the file and the
        // cause (LastError) in a line of its own, once.
        engine.ReportFailures(false);
        const bool grown = engine.ResizeFile(writePos + std::max(length, growStep));
        engine.ReportFailures(true);
        if (!grown || engine.data == nullptr) {
            return;
        }
    }
    // Whatever happened to the view, never store past the mapped bytes of the file.
    const AppCore::MMFile& mapped = engine.mmFile;
    const unsigned long mappedRoom =
        mapped.mapAddress == nullptr ? 0
                                     : static_cast<unsigned long>(mapped.mapAddress + mapped.mapLength - engine.data);
    if (end > engine.FileSize() || end > mappedRoom) {
        return;
    }
    std::copy(pendingText.begin(), pendingText.end(), engine.data + writePos);
    // A failed msync is reported by the engine; the bytes are in the file's pages.
    (void)engine.FlushView();
    writePos = end;
    SignalSafeTrim::SetLength(trimSlot, writePos);
    pendingText.clear();
}

void LogManager::KeepTrimmedOnSignal(bool keep) {
    SignalSafeTrim::Unregister(trimSlot);
    trimSlot = keep ? SignalSafeTrim::Register(engine.mmFile.fileDescriptor, writePos) : -1;
}

void LogManager::HoldFile(bool hold) {
    if (heldFile) Held().Remove(*heldFile);
    heldFile.reset();
    if (!hold) return;
    heldFile = HeldFiles::IdentityOf(engine.mmFile.fileDescriptor);
    if (heldFile) Held().Add(*heldFile);
}

void LogManager::TrimAndClose() {
    KeepTrimmedOnSignal(false);
    HoldFile(false);
    if (!filePath.empty()) {
        (void)engine.ResizeFile(writePos);
    }
    engine.ClearAll();
}

void LogManager::Close() {
    std::lock_guard<std::mutex> lock(mutex);
    FlushStream();
    WriteThrough();
    TrimAndClose();
}

unsigned long LogManager::WritePos() {
    std::lock_guard<std::mutex> lock(mutex);
    return writePos;
}

std::string LogManager::PendingText() {
    std::lock_guard<std::mutex> lock(mutex);
    return pendingText;
}

std::string LogManager::FilePath() {
    std::lock_guard<std::mutex> lock(mutex);
    return filePath;
}

int LogManager::LastError() {
    std::lock_guard<std::mutex> lock(mutex);
    return engine.mmFile.lastError;
}

unsigned long LogManager::FileSize() {
    std::lock_guard<std::mutex> lock(mutex);
    return engine.FileSize();
}

std::string LogManager::TimeStamp() { return FormatLocalTime(TStampFormat.c_str()); }

std::string LogManager::FileTimeStamp() { return FormatLocalTime("%y%m%d%H%M%S"); }

std::string LogManager::ThreadStamp() {
    // Shared by every manager; managers lock only themselves, so this needs its own lock.
    static std::mutex tmapMutex;
    static std::unordered_map<std::thread::id, int> tmap;
    static int tid = 0;
    std::lock_guard<std::mutex> lock(tmapMutex);
    const auto [entry, added] = tmap.try_emplace(std::this_thread::get_id(), tid);
    if (added) {
        ++tid;
    }
    return std::to_string(entry->second);
}

std::string LogManager::HeaderDivider(const std::string& text, unsigned long width, char fill) {
    const unsigned long length = text.size();
    if (length + 4 < width) {
        const unsigned long rest = width - length - 2;
        const unsigned long left = rest / 2;
        return std::string(left, fill) + " " + text + " " + std::string(left + rest % 2, fill);
    }
    return std::string(1, fill) + " " + text + " " + std::string(1, fill);
}

std::string LogManager::Divider(unsigned long count, char fill) { return std::string(count, fill); }
