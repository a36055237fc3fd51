#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestrel {

// Base-10 signed 64-bit integer: an optional '+' or '-', then one or more ASCII
// digits and nothing else. Anything else, or a value out of range, is nullopt.
std::optional<int64_t> parseInteger(std::string_view text);

}  // namespace kestrel
