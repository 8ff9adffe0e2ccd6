#pragma once

#include <cstdint>

// Disk space held back for a last write that must land when the disk fills:
// run.json's ending, which says how the run ended and which writes failed.
// The space is the blocks of an unnamed file (O_TMPFILE) in a folder the run
// holds: nobody can open it, it leaves nothing behind however the process
// ends, and giving its blocks back is one ftruncate, just before that write.
// Best effort: on a file system without unnamed files or fallocate it holds
// nothing, and the last write takes its chances as every write does.
class DiskReserve {
public:
    // Holds nothing yet; the blocks are taken in `folder` (a descriptor, used only here).
    explicit DiskReserve(int folder);
    DiskReserve(const DiskReserve&) = delete;
    DiskReserve& operator=(const DiskReserve&) = delete;
    ~DiskReserve();

    // Holds at least `bytes`, as far as the disk (and RLIMIT_FSIZE, which would
    // end the process with SIGXFSZ instead) allows; never holds less than before.
    void Hold(std::uint64_t bytes);
    // Gives every held block back to the file system.
    void Release();
    // The bytes held now.
    std::uint64_t Held() const { return held; }

private:
    int descriptor = -1;
    std::uint64_t held = 0;
};
