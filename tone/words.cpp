#include "tone/words.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace kestrel::tone {

std::optional<double> parseTime(const std::string& word) {
  if (word.empty()) return std::nullopt;
  const unsigned char first = static_cast<unsigned char>(word.front());
  if (first <= ' ' || first == 0x7f) return std::nullopt;  // blanks and control characters
  char* end = nullptr;
  const double t = std::strtod(word.c_str(), &end);
  if (end == word.c_str() || *end != '\0') return std::nullopt;
  return t;
}

std::string timeText(double t) {
  if (std::isnan(t)) return "nan";
  if (std::isinf(t)) return t < 0 ? "-inf" : "inf";
  // Plain digits between 1e-4 and 2^53, an exponent outside.
  const double a = std::fabs(t);
  const bool exponent = a != 0 && (a < 1e-4 || a >= 9007199254740992.0);
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, t,
                         exponent ? std::chars_format::scientific : std::chars_format::fixed);
  std::string s(buf, r.ptr);
  if (!exponent && s.find('.') == std::string::npos) s += ".0";
  return s;
}

std::string optionalText(const std::optional<std::string>& error) {
  return error ? "Optional(" + *error + ")" : "nil";
}

}  // namespace kestrel::tone
