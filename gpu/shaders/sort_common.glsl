// Interface and helpers shared by the three passes of the GPU radix sort.
//
// One pass sorts the index permutation stably by one 8-bit digit of the sort key,
// least significant digit first, in three dispatches with a full memory barrier
// between them: counting (one digit histogram per workgroup), partition (one
// workgroup turns the histograms into scatter offsets) and scattering. Counting
// and scattering cut [0, n) into the same WORKGROUP_COUNT contiguous chunks, so
// no workgroup ever waits on another and they may run in any order.
//
// Ping-pong between the index sets: pass p reads set A (or the identity when the
// initIndices word is set) when p is even and set B when p is odd, and writes the
// other set. The pass count is even (4 or 8), so the last pass writes set A,
// where the host reads the result.

#extension GL_EXT_buffer_reference : require
#extension GL_EXT_shader_explicit_arithmetic_types_int64 : require

#include "sort_constants.h"

layout(constant_id = SORT_SPEC_LARGE) const uint LARGE = 0u;  // 1: keys span several key buffers
layout(constant_id = SORT_SPEC_DATA_TYPE) const int DATA_TYPE = SORT_TYPE_INT;
layout(constant_id = SORT_SPEC_WORKGROUP_COUNT) const uint WORKGROUP_COUNT = SORT_WORKGROUP_COUNT;
// The shared arrays are sized for SORT_DIGIT_BITS, the only width the host sets.
layout(constant_id = SORT_SPEC_DIGIT_BITS) const uint DIGIT_BITS = SORT_DIGIT_BITS;

const int TYPE_BIGFLOAT = SORT_TYPE_BIGFLOAT;
const int TYPE_BIGINT = SORT_TYPE_BIGINT;
const int TYPE_FLOAT = SORT_TYPE_FLOAT;
const int TYPE_INT = SORT_TYPE_INT;

// One invocation per digit in partition and for the histograms.
const uint RADIX = SORT_RADIX;
const uint WORKGROUP_SIZE = SORT_WORKGROUP_SIZE;
// Keys an invocation loads at once in counting and ranks per tile in
// scattering: the fewer barriers and loop trips per key, the more registers.
const uint KEYS_PER_INVOCATION = SORT_KEYS_PER_INVOCATION;
layout(local_size_x = SORT_WORKGROUP_SIZE, local_size_y = 1, local_size_z = 1) in;

const uint SET_A = 0u;
const uint SET_B = 1u;

// Interface blocks: clang-format takes them for C++ and would split their names off.
// clang-format off
layout(push_constant) uniform PassConstants {
    uint passIndex;      // digit p: byte p of the sort key, 0 least significant
    uint upperHalf;      // p >= passCount / 2 (the passes derive the word from p)
    uint passCount;      // 4 for 32-bit keys, 8 for 64-bit keys
    uint initIndices;    // non-zero: this pass starts from the identity 0 .. n-1
} pc;

// Key buffer s holds keys [s * keysPerBuffer, (s + 1) * keysPerBuffer) as 32-bit
// words, a 64-bit key as its low word then its high word.
layout(set = 0, binding = 0, std430) restrict readonly buffer KeyBuffer {
    uint words[];
} keyBuffers[SORT_KEY_BUFFERS];

// Row w (w < WORKGROUP_COUNT) of each table belongs to workgroup w; row
// WORKGROUP_COUNT holds the digit totals (counts) and digit starts (offsets).
layout(set = 1, binding = 0, std430) restrict buffer CountTable {
    uint counts[];
};
layout(set = 1, binding = 1, std430) restrict buffer OffsetTable {
    uint offsets[];
};
// Pair s: device address of index buffer s of set A, then of set B.
layout(set = 1, binding = 2, std430) restrict readonly buffer AddressTable {
    uint64_t indexAddresses[];
};
layout(set = 1, binding = 3) uniform SortBlock {
    uint count;              // n
    uint keysPerBuffer;      // keys per key buffer
    uint bytesPerKeyBuffer;  // keysPerBuffer * key bytes, 0 meaning 2^32
} block;

layout(buffer_reference, std430, buffer_reference_align = 4) buffer IndexSlot {
    uint value;
};
// clang-format on

// Index buffers split where key buffers end in bytes: bytesPerKeyBuffer / 4
// indices each, 2^30 when the key buffer is 4 GiB and the word wrapped to 0.
uint IndicesPerBuffer() {
    return block.bytesPerKeyBuffer == 0u ? 0x40000000u : block.bytesPerKeyBuffer >> 2;
}

// The address of entry i of index set `set`, formed in 64 bits so that no
// buffer size makes it wrap.
IndexSlot IndexAt(uint set, uint i) {
    uint slot = 0u;
    if (LARGE != 0u) {
        uint perBuffer = IndicesPerBuffer();
        slot = i / perBuffer;
        i -= slot * perBuffer;
    }
    return IndexSlot(indexAddresses[2u * slot + set] + uint64_t(i) * 4u);
}

uint SourceIndex(uint i) {
    if (pc.initIndices != 0u)
        return i;
    return IndexAt((pc.passIndex & 1u) == 0u ? SET_A : SET_B, i).value;
}

void WriteIndex(uint position, uint index) {
    IndexAt((pc.passIndex & 1u) == 0u ? SET_B : SET_A, position).value = index;
}

// Word `word` (0 low, 1 high; always 0 for 32-bit keys) of key e. Each case names
// its key buffer with a constant index: a per-key choice of buffer is divergent,
// and dynamic or non-uniform indexing of a buffer array needs device features
// the sorter does not enable.
uint KeyWord(uint e, uint word) {
    const uint wordsPerKey = DATA_TYPE <= TYPE_BIGINT ? 2u : 1u;
    if (LARGE == 0u)
        return keyBuffers[0].words[e * wordsPerKey + word];
    uint slot = e / block.keysPerBuffer;
    uint at = (e - slot * block.keysPerBuffer) * wordsPerKey + word;
    switch (slot) {
    case 0u: return keyBuffers[0].words[at];
    case 1u: return keyBuffers[1].words[at];
    case 2u: return keyBuffers[2].words[at];
    case 3u: return keyBuffers[3].words[at];
    case 4u: return keyBuffers[4].words[at];
    case 5u: return keyBuffers[5].words[at];
    case 6u: return keyBuffers[6].words[at];
    default: return keyBuffers[7].words[at];
    }
}

// Digit pc.passIndex of the sort key of key e. The sort key's unsigned order is
// the value order: signed integers flip the sign bit; floats invert every bit
// when the sign is set and flip the sign bit otherwise, so a 64-bit float's low
// word depends on its high word's sign.
uint DigitOf(uint e) {
    uint pass = pc.passIndex;
    bool highWord = pass >= 4u;
    uint shift = (pass * DIGIT_BITS) & 31u;
    uint key;
    if (DATA_TYPE == TYPE_INT) {
        key = KeyWord(e, 0u) ^ 0x80000000u;
    } else if (DATA_TYPE == TYPE_FLOAT) {
        uint bits = KeyWord(e, 0u);
        key = bits ^ (uint(int(bits) >> 31) | 0x80000000u);
    } else if (DATA_TYPE == TYPE_BIGINT) {
        key = highWord ? KeyWord(e, 1u) ^ 0x80000000u : KeyWord(e, 0u);
    } else {
        uint high = KeyWord(e, 1u);
        uint mask = uint(int(high) >> 31);
        key = highWord ? high ^ (mask | 0x80000000u) : KeyWord(e, 0u) ^ mask;
    }
    return (key >> shift) & (RADIX - 1u);
}

// Workgroup w's chunk [begin, end) of [0, n): ceil pieces first, like the CPU
// sort's range split, so counting and scattering agree on every boundary.
void ChunkOf(uint w, out uint begin, out uint end) {
    uint n = block.count;
    uint q = n / WORKGROUP_COUNT;
    uint r = n % WORKGROUP_COUNT;
    begin = w * q + min(w, r);
    end = begin + q + (w < r ? 1u : 0u);
}
