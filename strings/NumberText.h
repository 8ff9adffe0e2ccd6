#pragma once

#include <string>

// Number-to-text conversions of the result cells. Rounding and trimming work on
// the decimal text itself, not on the floating-point value.
namespace SLib {

// Shortest decimal text, "-" for negatives.
std::string STR_FromNum(int value);

// Up to six significant digits, trailing zeros dropped ("1", "0.5", "86400"):
// an option's value or a percentage as a user would type it.
std::string STR_Typed(double value);

// Fixed notation with exactly `precision` decimals, correctly rounded. Values too
// large for 128 characters fall back to the shortest round-trip text (mantissa
// re-formatted with `precision` decimals when precision <= 14); "Invalid" if even
// that does not fit.
std::string STR_FromNum(double value, int precision);

// STR_FromNum(value, precision), then PrecisionTrim(text, minDecimals, noiseFrom)
// unless the text has an exponent. Time cells use (t, 0, 12, 15).
std::string STR_FromNum(double value, int minDecimals, int precision, int noiseFrom);

// Rounds `text` in place to `decimals` decimals: only the first dropped digit
// decides, carries walk towards the front ("99.97" -> "100.0" at 1 decimal), and a
// trailing "." is removed. Texts with no more decimals than asked stay unchanged.
void STR_DecimalRound(std::string& text, int decimals);

namespace Impl {
// Drops a trailing run of zeros, or of three or more nines (rounding up), but never
// below `minDecimals` and never padding. With `noiseFrom` or more decimals the last
// digit counts as noise and the run is looked for just before it.
void PrecisionTrim(std::string& text, int minDecimals, int noiseFrom);
}  // namespace Impl

}  // namespace SLib
