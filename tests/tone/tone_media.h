#pragma once
// Running kestrel-tone and making the videos its tests read.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/clips.h"
#include "tests/support/process.h"
#include "tests/support/scratch.h"

namespace kestrel::test {

ProcessResult runTone(const std::vector<std::string>& args);

// Packed 8-bit RGB pictures, top row first.
struct Rgb {
  int width = 0, height = 0;
  std::string bytes;
  Rgb(int w, int h) : width(w), height(h), bytes(static_cast<size_t>(w * h * 3), '\0') {}
  uint8_t at(int x, int y, int c) const {
    return static_cast<uint8_t>(bytes[static_cast<size_t>(3 * (y * width + x) + c)]);
  }
  void set(int x, int y, uint8_t r, uint8_t g, uint8_t b);
  void fill(int x0, int y0, int w, int h, uint8_t r, uint8_t g, uint8_t b);
};

// Encodes the pictures as a video at `rate` frames a second; `output` holds
// the ffmpeg options between the raw input and the file (codec, pixel format,
// filters, colour tags). Fails the test when ffmpeg does.
std::string encode(const Scratch& s, const std::string& name, const std::vector<Rgb>& frames,
                   const std::string& rate, const std::string& output);

// The largest difference between two byte strings of one size (256 when the sizes differ).
int maxDifference(const std::string& a, const std::string& b);

}  // namespace kestrel::test
