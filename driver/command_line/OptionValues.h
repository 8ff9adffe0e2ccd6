#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Reading the value after an option: each function takes the argument as given
// and says whether it is a value of the kind asked for. None prints, throws or
// looks at the locale.

// "-S"'s record count: an unsigned decimal up to the first non-digit ("1.9" is
// 1, "" is 0), a leading "-" negating it modulo 2^64. nullopt when the digits
// are worth more than 2^64 - 1, rather than a wrapped count.
std::optional<std::uint64_t> ParseCount(const char* text);

// Why the "-S" value `text` cannot be run ("<option> <text>: <reason>"), or
// empty. A negative count wraps around to more records than 32-bit indices
// address, so it fails as surely as one past 64 bits; both are refused before
// anything is created.
std::string CountProblem(const char* option, const char* text);

// A whole number in [low, high]: decimal digits only, after an optional "+",
// the whole text. nullopt for anything else, an empty text or a sign "-"
// included, and for digits worth more than `high` however many.
std::optional<std::uint64_t> WholeNumberIn(const char* text, std::uint64_t low, std::uint64_t high);

// A decimal number in [low, high] ("2.5", "1e1"), the whole text.
std::optional<double> NumberIn(const char* text, double low, double high);

// ", not <value>" for a refusal that quotes the value it was given; ", not an
// empty argument" for "".
std::string Not(const char* value);
