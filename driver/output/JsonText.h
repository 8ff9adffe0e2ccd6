#pragma once

#include <charconv>
#include <cstdint>
#include <string>

// JSON text as the program's documents spell it: the -JSON results and the
// run manifest. Appends to `out`; nothing here allocates beyond `out`.
namespace JsonText {

// A JSON string literal. Text from the system (a program path, a host name, an
// argument) may hold bytes that are not UTF-8; each such byte becomes U+FFFD,
// so the document stays valid JSON.
void AppendString(std::string& out, const std::string& text);

// Google Benchmark's spelling of doubles: 17 significant digits in scientific
// notation, non-finite values as JavaScript literals (Python's json reads
// them). to_chars ignores the locale, so a decimal comma can never slip in.
void AppendDouble(std::string& out, double value, std::chars_format format = std::chars_format::scientific,
                  int precision = 16);

// The shortest text that reads back as `value` ("0.01", "3.12"); non-finite
// values as AppendDouble writes them.
void AppendShortestDouble(std::string& out, double value);

}  // namespace JsonText
