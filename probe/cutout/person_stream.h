#pragma once
#include <cstdint>
#include <string>

#include "platform/vision/vision.h"

namespace kestrel {

// The person segmentation quality a word selects: "fast", "accurate", else balanced.
vision::PersonQuality personQuality(const std::string& word);

// Raw BGRA frames in, a zero header and the person matte out, until the input ends.
[[noreturn]] void runPerson(int64_t width, int64_t height, const std::string& qualityWord);

}  // namespace kestrel
