#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/vision/vision.h"
#include "probe/cutout/frame_io.h"
#include "probe/cutout/frame_stream.h"

namespace kestrel {

// The person segmentation quality a word selects: "fast", "accurate", else balanced.
vision::PersonQuality personQuality(const std::string& word);

// What a person-mask stream keeps for its whole run; its session carries the
// accurate matte's state from frame to frame.
struct PersonStream : FrameBuffers {
  vision::PersonQuality quality = vision::PersonQuality::Balanced;
};

// Allocates the buffers of a width x height stream (throws std::bad_alloc).
PersonStream makePersonStream(int64_t width, int64_t height, vision::PersonQuality quality);

// One frame: read from `in` (through `pending`), segmented, a zero header and
// the matte written to `out`. False at the end of the input or when the reader
// has gone; a failed request ends the process with "Vision: " and the error.
bool personStep(PersonStream& stream, std::vector<uint8_t>& pending, vision::Service& service,
                const ByteSource& in, const ByteSink& out);

// Raw BGRA frames in, a zero header and the person matte out, until the input ends.
[[noreturn]] void runPerson(int64_t width, int64_t height, const std::string& qualityWord);

}  // namespace kestrel
