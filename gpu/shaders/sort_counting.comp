#version 460
#extension GL_GOOGLE_include_directive : require
// Counting: row w of the count table becomes the digit histogram of workgroup
// w's chunk. Every row is rewritten on every pass, so the host never clears it.
#include "sort_common.glsl"

shared uint histogram[RADIX];

void main()
{
    uint t = gl_LocalInvocationID.x;
    uint w = gl_WorkGroupID.x;
    histogram[t] = 0u;
    barrier();

    uint begin, end;
    ChunkOf(w, begin, end);
    for (uint i = begin + t; i < end; i += WORKGROUP_SIZE)
        atomicAdd(histogram[DigitOf(SourceIndex(i))], 1u);
    barrier();

    counts[w * RADIX + t] = histogram[t];
}
