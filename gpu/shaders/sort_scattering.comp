#version 460
#extension GL_GOOGLE_include_directive : require
// Scattering: workgroup w walks its chunk in tiles of WORKGROUP_SIZE entries, in
// order, and writes each entry to its digit's next free position. Inside a tile
// the rank among equal digits comes from per-digit bit masks over the tile's
// invocations and popcounts, which needs no subgroup operation and so gives the
// same stable order at every subgroup size.
#include "sort_common.glsl"

const uint MASK_WORDS = WORKGROUP_SIZE / 32u;

shared uint nextPosition[RADIX];
// Bit t of word k of digit d's mask: invocation 32k + t holds digit d this tile.
shared uint tileMasks[RADIX * MASK_WORDS];

void main()
{
    uint t = gl_LocalInvocationID.x;
    uint w = gl_WorkGroupID.x;
    nextPosition[t] = offsets[w * RADIX + t];
    for (uint k = 0u; k < MASK_WORDS; ++k)
        tileMasks[k * RADIX + t] = 0u;
    barrier();

    uint begin, end;
    ChunkOf(w, begin, end);
    uint ownWord = t >> 5;
    uint ownBit = 1u << (t & 31u);

    // The bound is the same for the whole workgroup, so every invocation, live
    // or past the end, reaches every barrier.
    for (uint base = begin; base < end; base += WORKGROUP_SIZE) {
        uint i = base + t;
        bool live = i < end;
        uint index = 0u;
        uint digit = 0u;
        if (live) {
            index = SourceIndex(i);
            digit = DigitOf(index);
            atomicOr(tileMasks[digit * MASK_WORDS + ownWord], ownBit);
        }
        barrier();

        uint rank = 0u;
        uint tileCount = 0u;
        if (live) {
            for (uint k = 0u; k < MASK_WORDS; ++k) {
                uint bits = bitCount(tileMasks[digit * MASK_WORDS + k]);
                tileCount += bits;
                if (k < ownWord)
                    rank += bits;
            }
            rank += bitCount(tileMasks[digit * MASK_WORDS + ownWord] & (ownBit - 1u));
            WriteIndex(nextPosition[digit] + rank, index);
        }
        barrier();

        // The digit's last entry of the tile advances its position; every entry
        // clears its own mask word (others may clear it too, all to 0).
        if (live) {
            tileMasks[digit * MASK_WORDS + ownWord] = 0u;
            if (rank + 1u == tileCount)
                nextPosition[digit] += tileCount;
        }
        barrier();
    }
}
