// libFuzzer target: arbitrary command lines through the router. The input is
// split at zero bytes into arguments after the program name.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "probe/front/integer.h"
#include "probe/front/routing.h"

namespace {

void check(bool ok) {
  if (!ok) __builtin_trap();
}

// The integer rule written out another way: sign, digits, and a value that
// fits, computed in 128 bits.
std::optional<int64_t> reference(const std::string& s) {
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

bool bothPositive(const std::vector<std::string>& a) {
  auto w = reference(a[2]), h = reference(a[3]);
  return w && h && *w >= 1 && *h >= 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel;
  std::vector<std::string> args{"kestrel-probe"};
  if (size > 0) {
    args.emplace_back();
    for (size_t i = 0; i < size; ++i) {
      if (data[i] == 0) args.emplace_back();
      else args.back().push_back(static_cast<char>(data[i]));
    }
  }
  for (const auto& a : args) check(parseInteger(a) == reference(a));

  const Route r = route(args);
  const size_t n = args.size();
  const std::string first = n >= 2 ? args[1] : "";
  Mode expected = Mode::Video;
  if (n < 2) expected = Mode::Usage;
  else if (first == "--audio-inputs") expected = Mode::AudioInputs;
  else if (first == "--record" && n >= 3) expected = Mode::Record;
  else if (first == "--cutout" && n >= 4 && bothPositive(args)) expected = Mode::Cutout;
  else if (first == "--gate-test" && n >= 4 && bothPositive(args)) expected = Mode::GateTest;
  else if (first == "--person" && n >= 5 && bothPositive(args)) expected = Mode::Person;
  else if (first == "--photo" && n >= 5 && reference(args[4]).value_or(0) >= 1) expected = Mode::Photo;
  check(r.mode == expected);

  switch (r.mode) {
    case Mode::Cutout:
    case Mode::GateTest:
    case Mode::Person:
      check(r.width == *reference(args[2]) && r.height == *reference(args[3]));
      if (r.mode == Mode::Person) check(r.text == args[4]);
      break;
    case Mode::Photo:
      check(r.input == args[2] && r.output == args[3] && r.size == *reference(args[4]));
      break;
    case Mode::Record: check(r.text == args[2]); break;
    case Mode::Video: {
      check(r.text == first);
      const std::optional<int64_t> v = n > 2 ? reference(args[2]) : std::nullopt;
      check(r.hz == (v ? (*v > 1 ? *v : 1) : 5));
      break;
    }
    case Mode::AudioInputs:
    case Mode::Usage: break;
  }
  return 0;
}
