#pragma once

#include <string>

// Numbers cut to a few significant digits, in fixed notation, whatever the
// locale. Two rules, for two kinds of figure:

namespace SLib {

// `value` rounded to `digits` (at least 1) significant digits in fixed notation,
// never an exponent. Zeros after the decimal point that belong to the significant
// digits stay ("171.0"); integer parts longer than `digits` are printed in full
// without decimals ("12345"): a time keeps every digit it has. "inf", "-inf" or
// "nan" for non-finite values.
std::string SignificantDigits(double value, int digits);

// `value` rounded to three significant digits, the integer part included
// ("1.23", "12.3", "123", "1230"); "0" for zero or a non-finite value: a rate,
// whose further digits are noise.
std::string ThreeSignificantDigits(double value);

}  // namespace SLib
