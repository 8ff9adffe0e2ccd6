#include "logging/SignalSafeTrim.h"

#include <unistd.h>

#include <atomic>

namespace SignalSafeTrim {
namespace {

// A slot's descriptor: kFree, kClaiming while Register fills in the length, or
// the registered file's descriptor.
constexpr int kFree = -1;
constexpr int kClaiming = -2;

struct Slot {
    std::atomic<int> fileDescriptor{kFree};
    std::atomic<std::uint64_t> length{0};
};

Slot slots[kSlots];

static_assert(std::atomic<int>::is_always_lock_free && std::atomic<std::uint64_t>::is_always_lock_free,
              "a signal handler may only read lock-free atomics");

}  // namespace

int Register(int fileDescriptor, std::uint64_t length) {
    if (fileDescriptor < 0) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (slots[i].fileDescriptor.compare_exchange_strong(expected, kClaiming)) {
            slots[i].length.store(length);
            slots[i].fileDescriptor.store(fileDescriptor);
            return i;
        }
    }
    return -1;
}

void SetLength(int slot, std::uint64_t length) {
    if (slot >= 0 && slot < kSlots) slots[slot].length.store(length);
}

void Unregister(int slot) {
    if (slot >= 0 && slot < kSlots) slots[slot].fileDescriptor.store(kFree);
}

void TrimAll() {
    for (Slot& slot : slots) {
        const int fileDescriptor = slot.fileDescriptor.load();
        if (fileDescriptor < 0) continue;
        (void)ftruncate(fileDescriptor, static_cast<off_t>(slot.length.load()));
    }
}

}  // namespace SignalSafeTrim
