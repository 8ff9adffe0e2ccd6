// Constants of the GPU radix sort that the host code and the shaders both rely
// on. Included by C++ (gpu/QVEvalCore.h, gpu/QVRadixSort.h) and by GLSL
// (sort_common.glsl), so only preprocessor definitions and comments belong
// here: both languages read them alike. Unsigned literals carry the u suffix,
// which GLSL needs for uint and C++ reads as unsigned.
#ifndef SORTBENCH_GPU_SORT_CONSTANTS_H
#define SORTBENCH_GPU_SORT_CONSTANTS_H

// Bits of the sort key one pass sorts by, and the digits a pass counts.
#define SORT_DIGIT_BITS 8u
#define SORT_RADIX (1u << SORT_DIGIT_BITS)

// Invocations per workgroup: one per digit in partition and in the histograms.
#define SORT_WORKGROUP_SIZE 256u
// Counting and scattering workgroups per pass, each with a chunk of [0, n) and
// a row of the counter tables.
#define SORT_WORKGROUP_COUNT 108u
// Keys an invocation loads at once in counting and ranks per tile in
// scattering with ballots.
#define SORT_KEYS_PER_INVOCATION 16u

// Storage buffers the keys may span (descriptor set 0).
#define SORT_KEY_BUFFERS 8u
// 32-bit words of the push constants (pass, upper half, pass count, identity
// start) and of the inline uniform block (n, keys and bytes per key buffer).
#define SORT_PUSH_CONSTANT_WORDS 4u
#define SORT_BLOCK_WORDS 3u

// Shared words of scattering: ranking with masks keeps each digit's next
// position and one bit per invocation and digit; ranking with ballots keeps
// each digit's tile start and up to SORT_BALLOT_ROWS rows (one per subgroup)
// of digit counts packed two to a word.
#define SORT_BALLOT_ROWS 32u
#define SORT_MASK_SCRATCH_WORDS (SORT_RADIX + SORT_RADIX * (SORT_WORKGROUP_SIZE / 32u))
#define SORT_BALLOT_SCRATCH_WORDS (SORT_RADIX + SORT_BALLOT_ROWS * (SORT_RADIX / 2u))

// Specialization constant ids.
#define SORT_SPEC_LARGE 0
#define SORT_SPEC_DATA_TYPE 1
#define SORT_SPEC_WORKGROUP_COUNT 2
#define SORT_SPEC_DIGIT_BITS 3

// Data type codes, as the DATA_TYPE specialization constant takes them.
#define SORT_TYPE_BIGFLOAT 0
#define SORT_TYPE_BIGINT 1
#define SORT_TYPE_FLOAT 2
#define SORT_TYPE_INT 3

#endif
