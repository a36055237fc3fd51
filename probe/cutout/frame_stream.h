#pragma once
// The course both frame streams share: the size checked, the buffers made,
// then frame after frame read from standard input, analysed and answered on
// standard output until the input ends. A mode gives only its stream record
// and its per-frame analysis.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <new>
#include <vector>

#include "platform/picture.h"
#include "platform/vision/vision.h"
#include "probe/cutout/frame_io.h"

namespace kestrel {

// What every frame stream keeps: the frame read, the mask answered and what
// the vision service carries from frame to frame.
struct FrameBuffers {
  int64_t width = 0, height = 0, pixels = 0;
  int64_t stride = 0;          // bytes per row of `frame`
  std::vector<uint8_t> frame;  // the frame's BGRA pixels that the step analyses
  std::vector<uint8_t> mask;   // the output mask
  vision::StreamSession session;

  Picture framePicture() const { return {frame.data(), width, height, stride, PixelFormat::Bgra8}; }
  MutablePicture maskPlane() { return greyPlane(mask.data(), width, height); }
};

// Sizes and zeroes the buffers of a width x height stream (throws std::bad_alloc).
void allocateFrameBuffers(FrameBuffers& buffers, int64_t width, int64_t height);

// One frame: read from `in` (through `pending`) into `buffers.frame`, begun in
// the stream's session, handed to `analyse`, which leaves the mask in
// `buffers.mask` and returns the header; header and mask written to `out`.
// False at the end of the input or when the reader has gone.
bool frameStep(FrameBuffers& buffers, std::vector<uint8_t>& pending, const ByteSource& in,
               const ByteSink& out, const std::function<FrameHeader()>& analyse);

// The size of a frame stream, or the end of the process with a message when
// the frames would be too large. Also makes a closed standard output a plain
// write failure instead of a signal.
StreamSize streamSetup(int64_t width, int64_t height);

// Ends the process for a stream whose buffers could not be made.
[[noreturn]] void noFrameBuffer();

// Runs `step` on standard input and output until it returns false, then ends
// the process.
[[noreturn]] void streamFrames(const std::function<bool(const ByteSource&, const ByteSink&)>& step);

// A frame stream's whole run: `prepare(service)` starts what its frames will
// need while the first is on its way; when that frame is all there,
// `make(width, height)` allocates the stream (throwing std::bad_alloc), so an
// input that ends before costs nothing; then
// `step(stream, pending, service, in, out)` answers frame after frame.
template <class Make, class Prepare, class Step>
[[noreturn]] void runFrameStream(int64_t width, int64_t height, Make make, Prepare prepare,
                                 Step step) {
  const StreamSize size = streamSetup(width, height);
  vision::Service& service = vision::service();
  prepare(service);
  std::vector<uint8_t> pending;
  decltype(make(width, height)) stream;
  try {
    if (!readFrame(STDIN_FILENO, pending, size.frameBytes)) std::_Exit(0);
    stream = make(size.width, size.height);
  } catch (const std::bad_alloc&) {
    noFrameBuffer();
  }
  streamFrames([&](const ByteSource& in, const ByteSink& out) {
    return step(stream, pending, service, in, out);
  });
}

}  // namespace kestrel
