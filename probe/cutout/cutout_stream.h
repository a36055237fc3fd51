#pragma once
#include <cstdint>
#include <vector>

#include "platform/vision/vision.h"
#include "probe/cutout/cutout_frame.h"
#include "probe/cutout/frame_io.h"

namespace kestrel {

// One frame of a cutout stream: read from `in` (through `pending`), analysed,
// header and mask written to `out`. False at the end of the input or when the
// reader has gone.
bool cutoutStep(CutoutStream& stream, std::vector<uint8_t>& pending, vision::Service& service,
                const ByteSource& in, const ByteSink& out);

// Raw BGRA frames in, a 32-byte header and a person mask out, until the input ends.
[[noreturn]] void runCutout(int64_t width, int64_t height);

}  // namespace kestrel
