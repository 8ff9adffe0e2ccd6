#pragma once

#include <cstdint>

// libstdc++'s parallel mode sort, __gnu_parallel::sort, on `threads` OpenMP
// threads: ascending under <, not stable. Its translation unit alone is built
// with OpenMP. Allocates a copy of the range (multiway merge sort).
void GnuParallelSort(std::uint64_t* first, std::uint64_t* last, unsigned threads);
void GnuParallelSort(unsigned __int128* first, unsigned __int128* last, unsigned threads);
