#pragma once
// The few tensor operations the executor computes itself, where oneDNN has no
// primitive with the arithmetic the model asks for: Resize with ONNX's
// coordinate modes, and constant Pad. Plain data in and out.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/vision/engine/host_tensor.h"

namespace kestrel::vision::engine {

// An activation seen as planes of height x width pixels, each pixel `block`
// consecutive floats: plain NCHW is planes N*C with block 1; channel-blocked
// nChw16c is planes N*ceil(C/16) with block 16; NHWC is planes N with block C.
// `channels` is C and `channelBlocks` the planes per image (to find the
// padding channels of a blocked layout, which stay zero).
struct PixelPlanes {
  int64_t planes = 0, height = 0, width = 0, block = 1;
  int64_t channels = 0, channelBlocks = 0;
};

// Per output coordinate: the two source indices and the weight of the second.
struct AxisMap {
  std::vector<int64_t> low, high;
  std::vector<float> weight;
};

// ONNX Resize along one axis: `mode` "linear" or "nearest", `transform` one of
// half_pixel, pytorch_half_pixel, align_corners, asymmetric,
// tf_half_pixel_for_nn; `nearest` round_prefer_floor, round_prefer_ceil,
// floor or ceil. `scale` is output over input as the model gives it.
AxisMap resizeAxis(int64_t input, int64_t output, double scale, const std::string& mode,
                   const std::string& transform, const std::string& nearest);

void resizePlanes(const float* src, const PixelPlanes& in, float* dst, const AxisMap& rows, const AxisMap& cols);

// A row-major tensor of dims filled from src, whose dims `from` have the
// same rank and on each axis either the same length or 1 (broadcast).
void broadcastTo(const float* src, const Dims& from, float* dst, const Dims& dims);

// The mean over the middle axis of a row-major [outer, axis, inner] tensor.
void meanOverAxis(const float* src, int64_t outer, int64_t axis, int64_t inner, float* dst);

// Constant padding of a row-major tensor: pads holds the begin pads of every
// axis, then the end pads (negative values crop).
void padConstant(const float* src, const Dims& dims, float* dst, const std::vector<int64_t>& pads, float value);

}  // namespace kestrel::vision::engine
