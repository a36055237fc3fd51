#pragma once
// What the fuzz targets share: the failure trap and the integer rule written
// out independently.
#include <cstdint>
#include <optional>
#include <string>

namespace kestrel::fuzz {

// A broken property ends the run as a crash, with the input saved.
inline void check(bool ok) {
  if (!ok) __builtin_trap();
}

// A base-10 signed 64-bit integer: a sign, digits, and a value that fits,
// computed in 128 bits; the reference for both programs' parsers.
inline std::optional<int64_t> referenceInteger(const std::string& s) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  if (i == s.size()) return std::nullopt;
  __int128 v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    v = v * 10 + (s[i] - '0');
    if (v > (static_cast<__int128>(1) << 63)) return std::nullopt;
  }
  if (negative) v = -v;
  if (v > INT64_MAX || v < INT64_MIN) return std::nullopt;
  return static_cast<int64_t>(v);
}

}  // namespace kestrel::fuzz
