#pragma once

#include <sys/types.h>

#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <utility>

#include "support/FileEngine.h"

// A text file written through a memory-mapped view.
//
// Accepted text is appended to a pending buffer and written through at once:
// copied into the view at writePos and flushed synchronously, so the file on disk
// holds every byte of text accepted so far, followed by zero padding up to the
// file's current size. The file grows by at least growStep bytes at a time and is
// trimmed to exactly its text by Close and the destructor.
//
// While a manager has a file, its written length is registered with
// SignalSafeTrim, so an interrupting signal can cut the file back to its text.
//
// Text that cannot be written (no file, no view, or a grow the disk refused)
// stays pending and is retried by the next write; nothing is ever copied past
// the end of the mapped file. A refused grow prints nothing: LastError names
// its cause, for the caller's own line. Every public write and read takes the manager's
// mutex, so concurrent callers never interleave within one call. Managers are
// neither copied nor moved.
class LogManager {
public:
    // Formatted text callers may stream into; moved to the pending text at the
    // start of every write. Not locked: write it from the thread that then writes.
    std::ostringstream textStream;

    // A process-wide manager; constructed before main, never given a file by the benchmark.
    static LogManager Global;
    // strftime format of TimeStamp.
    static std::string TStampFormat;
    // When true, << and <<= put "(<thread number>)" in front of each line.
    static bool TShowThread;
    // Spaces <<= indents by: the width of the "[YYYY-MM-DD HH:MM:SS] " prefix of <<.
    static unsigned long TIndentSize;

    LogManager();
    LogManager(const LogManager&) = delete;
    LogManager& operator=(const LogManager&) = delete;
    // Writes what is pending, trims the file to its text and closes it.
    ~LogManager();

    // Opens dir/name. Mode 'w' creates or truncates it; mode 'n' creates it only
    // where nothing stands yet (a run's files in its new directory); mode 'a'
    // resumes after the text of an existing file (trailing zero padding is not
    // text) and creates a missing or empty one. Creating or truncating never
    // follows a link at the name; a file made is 0644 less the umask. Prints
    // "Initialized Log File: <path>" on success, "Failed to initialize Log File:
    // <path>" when the file cannot be created or opened (the manager then has no
    // file) and "Failed to initialize Log File. Invalid mode: <mode>" for another
    // mode. An empty dir or name succeeds without effect. A file already open is
    // closed without trimming. A file another manager of this process holds open
    // (by any path) is refused untouched, with the "Failed" line: one file, one
    // writer. Must not run concurrently with other calls. With `reachedDir` the
    // file is opened as reachedDir + name (a held folder's "/proc/self/fd/N/"),
    // while dir + name still names it in every message.
    bool Init(const std::string& dir, const std::string& name, char mode, const std::string& reachedDir = {});

    // Appends text unchanged, then writes through.
    LogManager& operator+=(const std::string& text);
    // Appends "[<TimeStamp()>] " + text + "\n", then writes through.
    LogManager& operator<<(const std::string& text);
    // Appends TIndentSize spaces + text + "\n", then writes through.
    LogManager& operator<<=(const std::string& text);

    // The text in the file: its first writePos bytes; pending text is not included.
    std::string GetLogString();

    // Writes the pending text to the file. Caller holds the mutex.
    void FlushText();
    // Moves textStream's content to the end of the pending text and resets the
    // stream. Caller holds the mutex.
    void FlushStream();

    // Writes what is pending, trims the file to its text and closes it. Later text
    // stays pending.
    void Close();

    // Bytes of text already in the file.
    unsigned long WritePos();
    // Text accepted but not yet in the file.
    std::string PendingText();
    // Full path of the file; empty without one.
    std::string FilePath();
    // errno of the latest failure of the file's engine (a grow the disk refused),
    // 0 before any: the cause to name when text stays pending.
    int LastError();
    // Active backend's file size; 0 without a file.
    unsigned long FileSize();

    // Local time, whole seconds, formatted with TStampFormat.
    static std::string TimeStamp();
    // Local time as the 12 digits "%y%m%d%H%M%S".
    static std::string FileTimeStamp();
    // The calling thread's number: 0 for the first thread that asks, then 1, ...
    // Safe to call from any number of threads.
    static std::string ThreadStamp();
    // `text` framed by fill characters and single spaces to exactly `width`
    // characters (the odd one on the right); "<fill> text <fill>" when
    // text.size() + 4 >= width.
    static std::string HeaderDivider(const std::string& text, unsigned long width, char fill);
    // `count` copies of fill.
    static std::string Divider(unsigned long count, char fill);

private:
    void WriteThrough();
    void TrimAndClose();
    void AppendLinePrefix();
    // The ends of Init: a new empty file, an opened one announced, a failure
    // announced with nothing left open. Each returns Init's result.
    bool CreateNew(bool exclusive = false);
    bool Initialized();
    bool InitFailed();
    // Registers the open file with SignalSafeTrim (true) or forgets it (false).
    void KeepTrimmedOnSignal(bool keep);
    // Records the open file as this manager's (true) or forgets it (false).
    void HoldFile(bool hold);

    std::mutex mutex;
    std::string pendingText;
    std::string filePath;  // for messages
    std::string openPath;  // where the file is opened
    AppCore::FileEngine engine{true};
    unsigned long writePos = 0;
    // Smallest growth of the file, so that small appends rarely remap.
    unsigned long growStep = 1024;
    int trimSlot = -1;                                // SignalSafeTrim slot of the open file; -1 without one
    std::optional<std::pair<dev_t, ino_t>> heldFile;  // the open file's identity, while held
};
