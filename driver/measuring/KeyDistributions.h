#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/CharBuffer.h"

// Shapes of key sets beyond the uniform one, for seeing how sorters react to
// presorted input, ties and skewed bit patterns.
enum class Distribution { Uniform, Sorted, Reverse, NearlySorted, FewUnique, Equal, Zipf, Skewed };

// "uniform", "sorted", "reverse", "nearly-sorted", "few-unique", "equal", "zipf", "skewed".
const char* DistributionName(Distribution distribution);

// Every distribution, in declaration order.
std::vector<Distribution> AllDistributions();

// Parses comma-separated names into `out` (replacing its contents), each
// distribution once, in the place of its first mention; "all" anywhere in the
// list gives every distribution in declaration order. Names that were dropped as
// repeats (a second mention, or a name beside "all") go into `repeated`, comma
// separated, when it is given. An unknown name, an empty list or an empty name
// returns false with a one-line `error` that lists the valid names; `out` is
// then unspecified.
bool ParseDistributionList(const std::string& list, std::vector<Distribution>& out, std::string& error,
                           std::string* repeated = nullptr);

// Keys of one distribution for Element = std::int32_t, float, std::int64_t or
// double, with every random draw taken from TestDataEngine() (so a seed fixes
// the keys). "The type's generator" below is GenerateINT / GenerateFLOAT /
// GenerateBIGINT / GenerateBIGFLOAT for the element type.
//   Uniform       exactly the type's generator: the same draws, the same keys.
//   Sorted        the type's generator, sorted ascending.
//   Reverse       the type's generator, sorted descending.
//   NearlySorted  Sorted, then count / 100 positions (at least one when
//                 count >= 2), each chosen at random, swapped with a random
//                 partner position.
//   FewUnique     16 distinct values from the type's generator; each position
//                 takes one of them uniformly at random.
//   Equal         one value from the type's generator everywhere.
//   Zipf          65,536 distinct values from the type's generator, ranked in the
//                 order drawn; each position takes the value of rank r with
//                 P(r) proportional to 1 / r.
//   Skewed        the bitwise AND of three uniform words of the element's
//                 width, reinterpreted as the element (each bit set with
//                 probability 1/8); non-finite reals are drawn again.
// Resizes `buffer` to exactly count elements and returns its data typed as
// elements (valid until the buffer is next resized). A count of 0 empties the
// buffer and draws nothing. Throws std::bad_alloc (buffer unchanged, nothing
// drawn) when the buffer cannot be sized.
template <typename Element>
Element* GenerateKeys(Distribution distribution, std::uint64_t count, AppCore::CharBuffer& buffer);
