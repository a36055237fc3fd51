// libFuzzer target: kestrel-tone's argument words and the LUT measurement.
// The input is four words separated by zero bytes (N, P, a time and a frame
// size), then half-float pixels. Parsed words must agree with the rules
// written out here; a time's text must read back as the same time; a grid
// that is said to fit is measured over pixels of exactly that frame.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/integer.h"
#include "tests/fuzz/fuzz_support.h"
#include "tone/lut_table.h"
#include "tone/words.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel::tone;
  std::vector<std::string> words(1);
  size_t i = 0;
  for (; i < size && words.size() <= 4; ++i) {
    if (data[i] == 0) words.emplace_back();
    else words.back().push_back(static_cast<char>(data[i]));
  }
  if (words.size() > 4) words.pop_back();
  words.resize(4);
  const uint8_t* pixels = data + i;
  const size_t pixelBytes = size - i;

  for (const auto& w : words) kestrel::fuzz::check(kestrel::parseInteger(w) == kestrel::fuzz::referenceInteger(w));

  if (const auto t = parseTime(words[2])) {
    const std::string text = timeText(*t);
    const auto back = parseTime(text);
    kestrel::fuzz::check(back.has_value());
    kestrel::fuzz::check(std::isnan(*t) ? std::isnan(*back) : std::memcmp(&*back, &*t, sizeof *t) == 0);
    kestrel::fuzz::check(std::isnan(*t) || std::isinf(*t) || text.find_first_of(".e") != std::string::npos);
  }

  const auto n = kestrel::parseInteger(words[0]);
  const auto p = kestrel::parseInteger(words[1]);
  if (!n || !p) return 0;
  // The frame: its width from the fourth word, its height from the pixels there are.
  const int64_t width = std::min<int64_t>(kestrel::fuzz::referenceInteger(words[3]).value_or(1) & 0xff, 255) + 1;
  const int64_t stride = 8 * width;
  const int64_t height = static_cast<int64_t>(pixelBytes) / stride;
  if (!gridFits(*n, *p, width, height)) return 0;
  kestrel::fuzz::check(*n >= 1 && *p >= 2 && *n * *p <= 2 * std::max(width, height) + 8);
  std::string text = lutHeader(*n);
  const size_t head = text.size();
  appendFrameEntries(text, pixels, stride, *n, *p);
  // n x n lines, each three numbers 0..1 with six decimals.
  size_t lines = 0;
  for (size_t at = head; at < text.size(); ++lines) {
    const size_t end = text.find('\n', at);
    kestrel::fuzz::check(end != std::string::npos);
    const std::string line = text.substr(at, end - at);
    float r, g, b;
    char rest;
    kestrel::fuzz::check(std::sscanf(line.c_str(), "%f %f %f%c", &r, &g, &b, &rest) == 3);
    for (float v : {r, g, b}) kestrel::fuzz::check(v >= 0 && v <= 1);
    kestrel::fuzz::check(line.size() == 26);  // "d.dddddd d.dddddd d.dddddd"
    at = end + 1;
  }
  kestrel::fuzz::check(lines == static_cast<size_t>(*n * *n));
  return 0;
}
