#include "probe/cutout/cutout_stream.h"

#include <cstdlib>

#include "probe/cutout/frame_stream.h"

namespace kestrel {

bool cutoutStep(CutoutStream& stream, std::vector<uint8_t>& pending, vision::Service& service,
                const ByteSource& in, const ByteSink& out) {
  return frameStep(stream, pending, in, out, [&] { return cutoutAnalyse(stream, service); });
}

void runCutout(int64_t width, int64_t height) {
  const bool heldEnabled = heldEnabledBy(std::getenv("KESTREL_HELD_OFF"));
  runFrameStream(
      width, height, [&](int64_t w, int64_t h) { return makeCutoutStream(w, h, heldEnabled); },
      [&](vision::Service& service) { prepareCutout(heldEnabled, service); }, cutoutStep);
}

}  // namespace kestrel
