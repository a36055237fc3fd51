// libFuzzer target: arbitrary command lines through the router. The input is
// split at zero bytes into arguments after the program name.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/integer.h"
#include "probe/front/routing.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool bothPositive(const std::vector<std::string>& a) {
  auto w = kestrel::fuzz::referenceInteger(a[2]), h = kestrel::fuzz::referenceInteger(a[3]);
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
  for (const auto& a : args) kestrel::fuzz::check(parseInteger(a) == kestrel::fuzz::referenceInteger(a));

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
  else if (first == "--photo" && n >= 5 && kestrel::fuzz::referenceInteger(args[4]).value_or(0) >= 1) expected = Mode::Photo;
  kestrel::fuzz::check(r.mode == expected);

  switch (r.mode) {
    case Mode::Cutout:
    case Mode::GateTest:
    case Mode::Person:
      kestrel::fuzz::check(r.width == *kestrel::fuzz::referenceInteger(args[2]) && r.height == *kestrel::fuzz::referenceInteger(args[3]));
      if (r.mode == Mode::Person) kestrel::fuzz::check(r.qualityWord == args[4]);
      break;
    case Mode::Photo:
      kestrel::fuzz::check(r.input == args[2] && r.output == args[3] && r.size == *kestrel::fuzz::referenceInteger(args[4]));
      break;
    case Mode::Record: kestrel::fuzz::check(r.deviceId == args[2]); break;
    case Mode::Video: {
      kestrel::fuzz::check(r.mediaPath == first);
      const std::optional<int64_t> v = n > 2 ? kestrel::fuzz::referenceInteger(args[2]) : std::nullopt;
      kestrel::fuzz::check(r.hz == (v ? (*v > 1 ? *v : 1) : 5));
      break;
    }
    case Mode::AudioInputs:
    case Mode::Usage: break;
  }
  return 0;
}
