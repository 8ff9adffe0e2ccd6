#version 460
#extension GL_GOOGLE_include_directive : require
#extension GL_EXT_control_flow_attributes : require
#if RANK_WITH_BALLOTS
#extension GL_KHR_shader_subgroup_ballot : require
#extension GL_KHR_shader_subgroup_shuffle : require
#endif
// Scattering: workgroup w walks its chunk in tiles, in order, and writes each
// entry to its digit's next free position. An entry's rank among the tile's
// equal digits must follow position order, which makes the pass stable.
//
// Built twice from this source. With RANK_WITH_BALLOTS each subgroup ranks its
// own run of keys with ballots and the subgroups' digit counts are scanned
// once per tile of TILE_KEYS: two workgroup barriers per tile. Subgroups of up
// to COMPARE_LANES_UP_TO lanes find equal digits by comparing with each lane
// instead of one ballot per digit bit: fewer operations, same result. Where the
// subgroups do not fit that scheme (below 8 invocations, or not all full) and
// in the build without ballots, ranking uses per-digit bit masks over one key
// per invocation: three barriers per 256 keys, but no subgroup operation.
#include "sort_common.glsl"

#ifndef COMPARE_LANES_UP_TO
#define COMPARE_LANES_UP_TO 8
#endif

// --- Mask ranking: one key per invocation and tile ---------------------------

const uint MASK_WORDS = WORKGROUP_SIZE / 32u;
const uint MASK_NEXT_POSITION = 0u;  // RADIX words: each digit's next free position
const uint MASK_TILE_MASKS = RADIX;  // bit t of word k of digit d: invocation 32k + t holds d
const uint MASK_SCRATCH_WORDS = SORT_MASK_SCRATCH_WORDS;

// --- Ballot ranking: KEYS_PER_INVOCATION keys per invocation and tile ---------

const uint TILE_KEYS = WORKGROUP_SIZE * KEYS_PER_INVOCATION;
// One row of digit counts per subgroup; SORT_BALLOT_ROWS rows hold subgroups
// of 8 and more.
const uint MAX_ROWS = SORT_BALLOT_ROWS;
// A row packs digit d into the low and digit d + 128 into the high 16 bits of
// word d: a count or prefix never exceeds TILE_KEYS, so halves never carry.
const uint HALF_RADIX = RADIX / 2u;
const uint BALLOT_TILE_START = 0u;  // RADIX words: each digit's first position in the tile
const uint BALLOT_ROWS = RADIX;     // MAX_ROWS rows of HALF_RADIX words
const uint BALLOT_SCRATCH_WORDS = SORT_BALLOT_SCRATCH_WORDS;

#if RANK_WITH_BALLOTS
const uint SCRATCH_WORDS = max(MASK_SCRATCH_WORDS, BALLOT_SCRATCH_WORDS);
#else
const uint SCRATCH_WORDS = MASK_SCRATCH_WORDS;
#endif
// The two rankings never run in one dispatch, so they share the memory.
shared uint scratch[SCRATCH_WORDS];

void ScatterWithMasks(uint w, uint begin, uint length) {
    uint t = gl_LocalInvocationID.x;
    scratch[MASK_NEXT_POSITION + t] = offsets[w * RADIX + t];
    for (uint k = 0u; k < MASK_WORDS; ++k)
        scratch[MASK_TILE_MASKS + k * RADIX + t] = 0u;
    barrier();

    uint ownWord = t >> 5;
    uint ownBit = 1u << (t & 31u);

    // The bound is the same for the whole workgroup, so every invocation, live
    // or past the end, reaches every barrier.
    for (uint tile = 0u; tile < length; tile += WORKGROUP_SIZE) {
        uint at = tile + t;
        bool live = at < length;
        uint index = 0u;
        uint digit = 0u;
        uint masks = MASK_TILE_MASKS;
        if (live) {
            index = SourceIndex(begin + at);
            digit = DigitOf(index);
            masks = MASK_TILE_MASKS + digit * MASK_WORDS;
            atomicOr(scratch[masks + ownWord], ownBit);
        }
        barrier();

        uint rank = 0u;
        uint tileCount = 0u;
        if (live) {
            for (uint k = 0u; k < MASK_WORDS; ++k) {
                uint bits = bitCount(scratch[masks + k]);
                tileCount += bits;
                if (k < ownWord)
                    rank += bits;
            }
            rank += bitCount(scratch[masks + ownWord] & (ownBit - 1u));
            WriteIndex(scratch[MASK_NEXT_POSITION + digit] + rank, index);
        }
        barrier();

        // The digit's last entry of the tile advances its position; every entry
        // clears its own mask word (others may clear it too, all to 0).
        if (live) {
            scratch[masks + ownWord] = 0u;
            if (rank + 1u == tileCount)
                scratch[MASK_NEXT_POSITION + digit] += tileCount;
        }
        barrier();
    }
}

#if RANK_WITH_BALLOTS
// The subgroup's live invocations that hold `digit`, as a ballot value.
uvec4 PeersWithDigit(uint digit, bool live) {
    uint lanes = gl_SubgroupSize;
    if (lanes <= COMPARE_LANES_UP_TO) {
        // One past the digits for a lane past the end, so that no live
        // digit matches it.
        uint own = live ? digit : RADIX;
        uint peers = 0u;
        [[unroll]] for (uint l = 0u; l < COMPARE_LANES_UP_TO; ++l) {
            if (l < lanes && subgroupBroadcast(own, l) == digit)
                peers |= 1u << l;
        }
        return uvec4(live ? peers : 0u, 0u, 0u, 0u);
    }
    uvec4 peers = subgroupBallot(live);
    [[unroll]] for (uint b = 0u; b < SORT_DIGIT_BITS; ++b) {
        bool set = ((digit >> b) & 1u) != 0u;
        uvec4 votes = subgroupBallot(set);
        peers &= set ? votes : ~votes;
    }
    return peers;
}

// A row's word for digit d, and where in the word d's 16-bit field starts.
uint RowWord(uint d) {
    return d & (HALF_RADIX - 1u);
}

uint RowShift(uint d) {
    return (d >> 7) << 4;
}

// A key's rank within its subgroup's run: equal digits of earlier keys j (the
// row so far) plus those of lower lanes at this j. The lowest lane of each
// digit adds the digit's count to the row and hands the earlier total to its
// peers. Every lane of the subgroup takes part, live or not.
uint RankInRun(uint digit, bool live, uint ownRow) {
    uvec4 peers = PeersWithDigit(digit, live);
    uint below = subgroupBallotExclusiveBitCount(peers);
    uint shift = RowShift(digit);
    uint earlier = 0u;
    if (live && below == 0u)
        earlier = atomicAdd(scratch[ownRow + RowWord(digit)], subgroupBallotBitCount(peers) << shift);
    earlier = subgroupShuffle(earlier, live ? subgroupBallotFindLSB(peers) : gl_SubgroupInvocationID);
    return ((earlier >> shift) & 0xFFFFu) + below;
}

// Run by invocation t < HALF_RADIX for its digits t and t + HALF_RADIX: each
// row becomes the count of the digit in the rows before it, and the tile's
// digit starts are published before they move on past the tile.
void ScanRows(uint t, uint rows, inout uint nextLow, inout uint nextHigh) {
    uint before = 0u;
    for (uint r = 0u; r < rows; ++r) {
        uint at = BALLOT_ROWS + r * HALF_RADIX + t;
        uint count = scratch[at];
        scratch[at] = before;
        before += count;
    }
    scratch[BALLOT_TILE_START + t] = nextLow;
    scratch[BALLOT_TILE_START + t + HALF_RADIX] = nextHigh;
    nextLow += before & 0xFFFFu;
    nextHigh += before >> 16;
}

// A tile is TILE_KEYS consecutive entries; subgroup s takes the s-th run of
// gl_SubgroupSize * KEYS_PER_INVOCATION of them, and its key j of invocation l
// is entry j * gl_SubgroupSize + l of the run. So position order is (subgroup,
// j, lane) order, which is the order the ranks count in.
void ScatterWithBallots(uint w, uint begin, uint length) {
    uint t = gl_LocalInvocationID.x;
    uint lanes = gl_SubgroupSize;
    uint lane = gl_SubgroupInvocationID;
    uint rows = gl_NumSubgroups;
    uint ownRow = BALLOT_ROWS + gl_SubgroupID * HALF_RADIX;
    // This lane's first entry of the subgroup's run, from the tile's start.
    uint laneStart = gl_SubgroupID * lanes * KEYS_PER_INVOCATION + lane;

    // Invocation t < HALF_RADIX owns digits t and t + HALF_RADIX between tiles.
    uint nextLow = 0u;
    uint nextHigh = 0u;
    if (t < HALF_RADIX) {
        nextLow = offsets[w * RADIX + t];
        nextHigh = offsets[w * RADIX + t + HALF_RADIX];
    }
    for (uint k = t; k < rows * HALF_RADIX; k += WORKGROUP_SIZE)
        scratch[BALLOT_ROWS + k] = 0u;
    barrier();

    for (uint tile = 0u; tile < length; tile += TILE_KEYS) {
        uint index[KEYS_PER_INVOCATION];
        uint digit[KEYS_PER_INVOCATION];
        uint rank[KEYS_PER_INVOCATION];
        // All loads first, so that they overlap.
        [[unroll]] for (uint j = 0u; j < KEYS_PER_INVOCATION; ++j) {
            uint at = tile + laneStart + j * lanes;
            index[j] = 0u;
            digit[j] = 0u;
            if (at < length) {
                index[j] = SourceIndex(begin + at);
                digit[j] = DigitOf(index[j]);
            }
        }
        [[unroll]] for (uint j = 0u; j < KEYS_PER_INVOCATION; ++j) {
            rank[j] = RankInRun(digit[j], tile + laneStart + j * lanes < length, ownRow);
        }
        barrier();

        if (t < HALF_RADIX)
            ScanRows(t, rows, nextLow, nextHigh);
        barrier();

        [[unroll]] for (uint j = 0u; j < KEYS_PER_INVOCATION; ++j) {
            if (tile + laneStart + j * lanes < length) {
                uint d = digit[j];
                uint rowsBefore = (scratch[ownRow + RowWord(d)] >> RowShift(d)) & 0xFFFFu;
                WriteIndex(scratch[BALLOT_TILE_START + d] + rowsBefore + rank[j], index[j]);
            }
        }
        // Only this subgroup touches its row until the next tile's scan, which
        // a workgroup barrier separates from this; so the row is cleared for
        // the next tile without one.
        subgroupBarrier();
        for (uint k = lane; k < HALF_RADIX; k += lanes)
            scratch[ownRow + k] = 0u;
        subgroupBarrier();
    }
}

// Workgroup-uniform: the ballot ranking needs every subgroup full and at most
// MAX_ROWS of them.
bool SubgroupsFitBallots() {
    return gl_NumSubgroups <= MAX_ROWS && gl_NumSubgroups * gl_SubgroupSize == WORKGROUP_SIZE;
}
#endif

void main() {
    uint w = gl_WorkGroupID.x;
    uint begin, end;
    ChunkOf(w, begin, end);
    // Offsets within the chunk, which is far below 2^32 long, never wrap.
    uint length = end - begin;
#if RANK_WITH_BALLOTS
    if (SubgroupsFitBallots()) {
        ScatterWithBallots(w, begin, length);
        return;
    }
#endif
    ScatterWithMasks(w, begin, length);
}
