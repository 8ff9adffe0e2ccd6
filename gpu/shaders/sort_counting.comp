#version 460
#extension GL_GOOGLE_include_directive : require
#extension GL_EXT_control_flow_attributes : require
// Counting: row w of the count table becomes the digit histogram of workgroup
// w's chunk. Every row is rewritten on every pass, so the host never clears it.
#include "sort_common.glsl"

shared uint histogram[RADIX];

void main() {
    uint t = gl_LocalInvocationID.x;
    uint w = gl_WorkGroupID.x;
    histogram[t] = 0u;
    barrier();

    uint begin, end;
    ChunkOf(w, begin, end);
    // Whole groups of KEYS_PER_INVOCATION keys first, every load of a group
    // issued before its first add so that the loads overlap; then the rest.
    // Offsets within the chunk, which is far below 2^32 long, never wrap.
    const uint groupStride = KEYS_PER_INVOCATION * WORKGROUP_SIZE;
    uint length = end - begin;
    uint at = t;
    for (; at + groupStride - WORKGROUP_SIZE < length; at += groupStride) {
        uint digit[KEYS_PER_INVOCATION];
        [[unroll]] for (uint j = 0u; j < KEYS_PER_INVOCATION; ++j) {
            digit[j] = DigitOf(SourceIndex(begin + at + j * WORKGROUP_SIZE));
        }
        [[unroll]] for (uint j = 0u; j < KEYS_PER_INVOCATION; ++j) {
            atomicAdd(histogram[digit[j]], 1u);
        }
    }
    for (; at < length; at += WORKGROUP_SIZE)
        atomicAdd(histogram[DigitOf(SourceIndex(begin + at))], 1u);
    barrier();

    counts[w * RADIX + t] = histogram[t];
}
