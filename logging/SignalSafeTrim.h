#pragma once

#include <cstdint>

// The written length of every open text file, kept where a signal handler can
// read it, so that an interrupted run can cut each file back to its text.
//
// Files written through a growing mapping are longer than their text and end in
// zero padding until they are closed. A handler for SIGINT and its siblings may
// not lock, allocate or use stdio, so the lengths live in a fixed table of
// lock-free atomics and TrimAll only calls ftruncate.
namespace SignalSafeTrim {

// How many files can be registered at once; a run has a handful open.
inline constexpr int kSlots = 64;

// Registers `fileDescriptor` whose text is `length` bytes long. Returns the slot
// to update, or -1 when every slot is taken (the file is then not trimmed).
int Register(int fileDescriptor, std::uint64_t length);

// The text of the file in `slot` is now `length` bytes long. No effect for -1.
void SetLength(int slot, std::uint64_t length);

// Forgets the file in `slot` before its descriptor is closed. No effect for -1.
void Unregister(int slot);

// Cuts every registered file to its text. Async-signal-safe.
void TrimAll();

}  // namespace SignalSafeTrim
