#include "driver/output/DiskReserve.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

DiskReserve::DiskReserve(int folder) : descriptor(openat(folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600)) {}

DiskReserve::~DiskReserve() {
    if (descriptor >= 0) close(descriptor);
}

void DiskReserve::Hold(std::uint64_t bytes) {
    if (descriptor < 0 || bytes <= held) return;
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        bytes = std::min<std::uint64_t>(bytes, limit.rlim_cur);
    if (bytes <= held) return;
    // fallocate, not posix_fallocate: writing zeros where the file system
    // cannot reserve would cost a write of every byte and reserve no better.
    if (fallocate(descriptor, 0, 0, static_cast<off_t>(bytes)) == 0) held = bytes;
}

void DiskReserve::Release() {
    if (descriptor >= 0 && held != 0 && ftruncate(descriptor, 0) == 0) held = 0;
}
