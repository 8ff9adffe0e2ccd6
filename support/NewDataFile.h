#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <string>

namespace AppCore {

// Data files are readable by all and writable by their owner alone. The umask
// can only take bits away, so no umask makes one writable by others.
inline constexpr mode_t kDataFileMode = 0644;

// Opens `path` read-write as a new data file (kDataFileMode), never through a
// link at its last name: created or truncated, or, when `exclusive`, created
// only where nothing stands yet. Returns the descriptor, or -1 with errno set.
inline int OpenNewDataFile(const std::string& path, bool exclusive) {
    const int flags = O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
    return open(path.c_str(), flags, kDataFileMode);
}

}  // namespace AppCore
