#pragma once
// The words kestrel-tone reads as numbers, and the texts it writes of values.
#include <optional>
#include <string>

namespace kestrel::tone {

// A whole word as the C library's strtod reads it (decimal, exponent, hex,
// inf and nan forms); refused when it starts with a blank or control
// character or has anything left after the number.
std::optional<double> parseTime(const std::string& word);

// The shortest text that reads back as the same double, always with a
// fractional part or an exponent: 99 gives 99.0, 0.00001 gives 1e-05.
std::string timeText(double t);

// A reader's error as an optional value reads: nil, or Optional(description).
std::string optionalText(const std::optional<std::string>& error);

}  // namespace kestrel::tone
