#pragma once

namespace EvalCore {

// Sort values[0, n) in place into ascending sort-key order (SortKey.h): four
// least-significant-digit passes, 8-bit digits for 32-bit values and 16-bit
// digits for 64-bit values. Values with equal keys are identical bit patterns,
// so stability does not show; -0.0 sorts before +0.0 and NaNs by their bits.
//
// Allocates one scratch array of n values per call (plus a counter table).
// When that fails, std::bad_alloc is thrown and `values` is untouched.
// n = 0 returns at once.
void RadixSort(int* values, unsigned long n);
void RadixSort(float* values, unsigned long n);
void RadixSort(long* values, unsigned long n);
void RadixSort(double* values, unsigned long n);

}  // namespace EvalCore
