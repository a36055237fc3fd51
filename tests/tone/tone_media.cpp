#include "tests/tone/tone_media.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace kestrel::test {

ProcessResult runTone(const std::vector<std::string>& args) {
  std::vector<std::string> all{KESTREL_TONE};
  all.insert(all.end(), args.begin(), args.end());
  return runProcess(all);
}

void Rgb::set(int x, int y, uint8_t r, uint8_t g, uint8_t b) {
  const size_t i = static_cast<size_t>(3 * (y * width + x));
  bytes[i] = static_cast<char>(r);
  bytes[i + 1] = static_cast<char>(g);
  bytes[i + 2] = static_cast<char>(b);
}

void Rgb::fill(int x0, int y0, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) set(x, y, r, g, b);
}

std::string encode(const Scratch& s, const std::string& name, const std::vector<Rgb>& frames,
                   const std::string& rate, const std::string& output) {
  std::string raw;
  for (const Rgb& f : frames) raw += f.bytes;
  const std::string rawPath = s.path(name + ".raw");
  writeFile(rawPath, raw);
  return makeClip(s, name,
                  "-f rawvideo -pix_fmt rgb24 -s " + std::to_string(frames.at(0).width) + "x" +
                      std::to_string(frames.at(0).height) + " -r " + rate + " -i '" + rawPath +
                      "' " + output);
}

int maxDifference(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return 256;
  int most = 0;
  for (size_t i = 0; i < a.size(); ++i)
    most = std::max(most, std::abs(static_cast<uint8_t>(a[i]) - static_cast<uint8_t>(b[i])));
  return most;
}

}  // namespace kestrel::test
