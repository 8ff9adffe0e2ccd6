#include "cpu_sort/TextStableSort.h"

#include <algorithm>
#include <numeric>

#include "cpu_sort/CollationTables.h"

namespace EvalCore {

void TextStableSort(const unsigned char* text, const unsigned long* offsets, const unsigned short* lengths,
                    unsigned long n, unsigned int* indices, bool initIndices, int caseSensitive) {
    if (initIndices) {
        if (n == 0) return;
        std::iota(indices, indices + n, 0u);
    }
    const unsigned char* weight = caseSensitive != 0 ? ascii_map_with_case : ascii_map_no_case;
    std::stable_sort(indices, indices + n, [=](unsigned int x, unsigned int y) {
        const unsigned char* a = text + offsets[x];
        const unsigned char* b = text + offsets[y];
        const unsigned short common = std::min(lengths[x], lengths[y]);
        for (unsigned short i = 0; i < common; ++i)
            if (weight[a[i]] != weight[b[i]]) return weight[a[i]] < weight[b[i]];
        return lengths[x] < lengths[y];
    });
}

}  // namespace EvalCore
