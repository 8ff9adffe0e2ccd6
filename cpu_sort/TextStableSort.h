#pragma once

namespace EvalCore {

// Stable sort of text records by index. Record i is the lengths[i] bytes at
// text + offsets[i]; records may lie in any order in `text` and may overlap.
// Reorders indices[0, n) so that the records they name are in collation
// order: bytes are compared by their weights in ascii_map_with_case
// (caseSensitive != 0) or ascii_map_no_case (caseSensitive == 0), the first
// differing weight decides, and a record that is a prefix of the other comes
// first. Records that compare equal keep their order in `indices`.
//
// With initIndices, indices[i] = i is written first; otherwise the entries
// present are sorted and each must be a valid record number. n must not exceed
// 4,294,967,295. Never fails for lack of memory: the merge sort uses a
// temporary buffer of up to n / 2 entries when it can get one and merges in
// place otherwise.
void TextStableSort(const unsigned char* text, const unsigned long* offsets, const unsigned short* lengths,
                    unsigned long n, unsigned int* indices, bool initIndices, int caseSensitive);

}  // namespace EvalCore
