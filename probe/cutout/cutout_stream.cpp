#include "probe/cutout/cutout_stream.h"

#include <unistd.h>

#include <cstdlib>
#include <new>
#include <string>

#include "platform/base/fail.h"
#include "probe/cutout/stream_setup.h"

namespace kestrel {

bool cutoutStep(CutoutStream& stream, std::vector<uint8_t>& pending, vision::Service& service,
                const ByteSource& in, const ByteSink& out) {
  if (!readFrame(in, pending, 4 * stream.pixels)) return false;
  copyRows(pending.data(), stream.height, stream.frame.data(), stream.stride, stream.width);
  pending.clear();

  const CutoutHeader h = cutoutAnalyse(stream, service);
  const float values[8] = {h.face[0], h.face[1], h.face[2], h.face[3],
                           h.held[0], h.held[1], h.held[2], h.held[3]};
  const std::vector<uint8_t> header = headerBytes(values);
  return out(header.data(), header.size()) && out(stream.mask.data(), stream.mask.size());
}

void runCutout(int64_t width, int64_t height) {
  const StreamSize size = streamSetup(width, height);
  vision::Service& service = vision::service();
  const bool heldEnabled = heldEnabledBy(std::getenv("KESTREL_HELD_OFF"));
  CutoutStream stream;
  std::vector<uint8_t> pending;
  try {
    stream = makeCutoutStream(size.width, size.height, heldEnabled);
    pending.reserve(static_cast<size_t>(size.frameBytes));
  } catch (const std::bad_alloc&) {
    fail("can't make a frame buffer");
  }
  prepareCutout(stream, service);
  const ByteSource in = fileSource(STDIN_FILENO);
  const ByteSink out = fileSink(STDOUT_FILENO);
  while (cutoutStep(stream, pending, service, in, out)) {
  }
  std::_Exit(0);
}

}  // namespace kestrel
