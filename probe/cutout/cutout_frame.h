#pragma once
#include <cstdint>
#include <vector>

#include "platform/vision/vision.h"
#include "probe/cutout/frame_io.h"
#include "probe/cutout/frame_stream.h"
#include "probe/cutout/gate_and_restore.h"
#include "probe/cutout/held.h"

namespace kestrel {

// Everything a cutout stream keeps for its whole run: allocated once, every
// buffer rewritten before it is read within a frame.
// `frame` is what every request analyses; `mask` the output mask.
struct CutoutStream : FrameBuffers {
  std::vector<uint8_t> instanceMask;  // the selected instances before gating
  std::vector<uint8_t> personWide;    // the person matte widened by CutoutSettings::personRadius
  std::vector<uint8_t> personMask;    // the person matte
  std::vector<int32_t> componentIds;  // scratch of the gate
  std::vector<uint8_t> heldMask;      // scratch of the held step
  std::vector<uint8_t> picked;        // instance labels selected for the frame, ascending
  bool heldEnabled = true;

  GateMaps gateMaps();
  HeldMaps heldMaps();
};

// Allocates the buffers of a width x height stream (throws std::bad_alloc).
CutoutStream makeCutoutStream(int64_t width, int64_t height, bool heldEnabled);

// The held step is on unless KESTREL_HELD_OFF is exactly "1".
bool heldEnabledBy(const char* heldOff);

// Analyses the frame in `stream.frame` and leaves its mask in `stream.mask`:
// the instances under the face, gated by the person, with what the hands
// hold. A failed vision request ends the process with "Vision: " and the error.
FrameHeader cutoutAnalyse(CutoutStream& stream, vision::Service& service);

// Starts loading what the stream's frames will need, while the first frame
// is on its way.
void prepareCutout(bool heldEnabled, vision::Service& service);

}  // namespace kestrel
