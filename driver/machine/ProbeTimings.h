#pragma once

#include <cstdint>

#include "driver/machine/CpuLimits.h"
#include "driver/machine/ProbeTeam.h"
#include "support/CharBuffer.h"

// How the limits probe times its figures (CpuLimits.h says what each is).
//
// Every store and move timing writes slots that the timings just before it did
// not, as a pass writes its destination once: the slot layout is cut into
// windows, and a timing takes the next one per CPU, 1M entries together (one
// thread walks them all). Small sizes walk their whole layout until a timing
// has 1M entries. The positions of the loads are the same in every timing; the
// lines they touch may stay cached, which can only raise a figure.
//
// Where the time goes (defaults, 2 CPUs, 1.0 to 1.7 s while other builds ran):
// a third in the timings of the largest size, the 8-byte moves first; then
// laying out its two slot arrays (16M entries each), the timings of the next
// size, and writing the 260 MiB of buffers once.
// Each figure is the best of `repeats` timings, the noise of a shared machine
// only ever adding time; the figures of one slot layout take turns.

// What the probe works in, for sizes up to `largest` (F): 2F bytes of keys, F
// of destination, F of slots and an index array of at most 4 MiB. Every buffer
// is advised for huge pages, as the sort's are, and written once, so that no
// timing takes page faults. A buffer that cannot be had stays empty.
struct ProbeBuffers {
    AppCore::CharBuffer keys, destination, slots, positions;

    explicit ProbeBuffers(std::uint64_t largest);
    bool Complete() const { return keys.data && destination.data && slots.data && positions.data; }
};

// Bytes ProbeBuffers(largest) allocates.
std::uint64_t ProbeBufferBytes(std::uint64_t largest);

// Every figure at the size `arrayBytes` (at most the buffers' largest), each
// the best of `repeats` (at least 1) timings, on one thread and, with a team
// of several, on all of its members. Overwrites the buffers.
ArrayLimits TimeArrayFigures(ProbeBuffers& buffers, ProbeTeam& team, unsigned repeats, std::uint64_t arrayBytes);

// The copy of 2F bytes of keys, timed into the destination and then the
// slots, which make 2F bytes together: the sweep of 8-byte keys over an
// index array of F = `arrayBytes` bytes. Its other figures stay 0. Before any
// slot layout, which it overwrites.
ArrayLimits TimeWideCopy(ProbeBuffers& buffers, ProbeTeam& team, unsigned repeats, std::uint64_t arrayBytes);

// The key-carrying sort's figures (PairLimits) for a data set of `records`
// records: the keys' buffer read, the destination written, and each member's
// tables of its own; unmeasured when those cannot be had.
PairLimits TimePairFigures(ProbeBuffers& buffers, ProbeTeam& team, unsigned repeats, std::uint64_t records);
