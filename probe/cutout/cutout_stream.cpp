#include "probe/cutout/cutout_stream.h"

#include <unistd.h>

#include <cstdlib>
#include <new>
#include <string>

#include "platform/vision/vision.h"
#include "probe/cutout/cutout_frame.h"
#include "probe/cutout/frame_io.h"
#include "probe/cutout/stream_setup.h"
#include "probe/front/fail.h"

namespace kestrel {
namespace {

enum class Step { Continue, Stop };

// Reads, analyses and writes one frame.
Step cutoutFrame(CutoutStream& stream, std::vector<uint8_t>& pending, int64_t frameBytes,
                 vision::Service& service) {
  if (!readFrame(STDIN_FILENO, pending, frameBytes)) return Step::Stop;
  copyRows(pending.data(), stream.height, stream.frame.data(), stream.stride, stream.width);
  pending.clear();

  const CutoutHeader h = cutoutAnalyse(stream, service);
  const float values[8] = {h.face[0], h.face[1], h.face[2], h.face[3],
                           h.held[0], h.held[1], h.held[2], h.held[3]};
  const std::vector<uint8_t> header = headerBytes(values);
  if (!writeAll(STDOUT_FILENO, header.data(), header.size()) ||
      !writeAll(STDOUT_FILENO, stream.mask.data(), stream.mask.size()))
    return Step::Stop;  // the reader has gone
  return Step::Continue;
}

}  // namespace

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
  while (cutoutFrame(stream, pending, size.frameBytes, service) == Step::Continue) {
  }
  std::_Exit(0);
}

}  // namespace kestrel
