#include "probe/cutout/frame_stream.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include "platform/base/fail.h"
#include "platform/frame_limit.h"
#include "platform/picture.h"

namespace kestrel {

void allocateFrameBuffers(FrameBuffers& b, int64_t width, int64_t height) {
  b.width = width;
  b.height = height;
  b.pixels = width * height;
  b.stride = bgraStride(width);
  b.frame.assign(static_cast<size_t>(b.stride * height), 0);
  b.mask.assign(static_cast<size_t>(b.pixels), 0);
}

bool frameStep(FrameBuffers& b, std::vector<uint8_t>& pending, const ByteSource& in,
               const ByteSink& out, const std::function<FrameHeader()>& analyse) {
  if (!readFrame(in, pending, 4 * b.pixels)) return false;
  copyRows(pending.data(), b.height, b.frame.data(), b.stride, b.width);
  pending.clear();  // keeps its room: the next frame is read straight into it
  b.session.beginFrame();
  const std::vector<uint8_t> header = headerBytes(analyse());
  return out(header.data(), header.size()) && out(b.mask.data(), b.mask.size());
}

StreamSize streamSetup(int64_t width, int64_t height) {
  std::signal(SIGPIPE, SIG_IGN);
  auto size = streamSize(width, height);
  if (!size) fail(frameTooLarge(width, height));
  return *size;
}

void noFrameBuffer() { fail("can't make a frame buffer"); }

void streamFrames(const std::function<bool(const ByteSource&, const ByteSink&)>& step) {
  const ByteSource in = fileSource(STDIN_FILENO);
  const ByteSink out = fileSink(STDOUT_FILENO);
  while (step(in, out)) {
  }
  std::_Exit(0);
}

}  // namespace kestrel
