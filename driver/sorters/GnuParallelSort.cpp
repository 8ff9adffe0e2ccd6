#include "driver/sorters/GnuParallelSort.h"

#include <functional>

#include <parallel/algorithm>

void GnuParallelSort(std::uint64_t* first, std::uint64_t* last, unsigned threads) {
    __gnu_parallel::sort(first, last, std::less<>(), __gnu_parallel::default_parallel_tag(static_cast<int>(threads)));
}

void GnuParallelSort(unsigned __int128* first, unsigned __int128* last, unsigned threads) {
    __gnu_parallel::sort(first, last, std::less<>(), __gnu_parallel::default_parallel_tag(static_cast<int>(threads)));
}
