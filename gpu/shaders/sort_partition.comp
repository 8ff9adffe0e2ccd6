#version 460
#extension GL_GOOGLE_include_directive : require
// Partition (one workgroup): offsets[w][d] = entries of smaller digits in the
// whole range + entries of digit d in the chunks before w, the first position
// workgroup w scatters digit d to. Digit-major, then workgroup order, which is
// what makes the pass stable.
#include "sort_common.glsl"

shared uint digitEnd[RADIX];

void main() {
    uint d = gl_LocalInvocationID.x;
    uint total = 0u;
    for (uint w = 0u; w < WORKGROUP_COUNT; ++w)
        total += counts[w * RADIX + d];
    digitEnd[d] = total;
    barrier();

    // Inclusive scan over the digits (Hillis-Steele; 8 steps for 256 digits).
    for (uint step = 1u; step < RADIX; step <<= 1) {
        uint add = d >= step ? digitEnd[d - step] : 0u;
        barrier();
        digitEnd[d] += add;
        barrier();
    }

    uint position = digitEnd[d] - total;
    counts[WORKGROUP_COUNT * RADIX + d] = total;
    offsets[WORKGROUP_COUNT * RADIX + d] = position;
    for (uint w = 0u; w < WORKGROUP_COUNT; ++w) {
        offsets[w * RADIX + d] = position;
        position += counts[w * RADIX + d];
    }
}
