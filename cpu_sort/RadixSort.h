#pragma once

// The CPU sort engine: index radix sorters for 32- and 64-bit keys (single- and
// multi-threaded), in-place value radix sorts and the text stable sort.
#include "cpu_sort/CollationTables.h"
#include "cpu_sort/FreeRadixSort.h"
#include "cpu_sort/RadixSort32.h"
#include "cpu_sort/RadixSort64.h"
#include "cpu_sort/SortKey.h"
#include "cpu_sort/TextStableSort.h"
