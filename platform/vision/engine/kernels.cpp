#include "platform/vision/engine/kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrel::vision::engine {

AxisMap resizeAxis(int64_t input, int64_t output, double scale, const std::string& mode,
                   const std::string& transform, const std::string& nearest) {
  AxisMap map;
  for (int64_t o = 0; o < output; ++o) {
    double x;
    if (transform == "align_corners") {
      x = output > 1 ? static_cast<double>(o) * (input - 1) / (output - 1) : 0.0;
    } else if (transform == "asymmetric") {
      x = o / scale;
    } else if (transform == "pytorch_half_pixel") {
      x = output > 1 ? (o + 0.5) / scale - 0.5 : 0.0;
    } else if (transform == "tf_half_pixel_for_nn") {
      x = (o + 0.5) / scale;
    } else {  // half_pixel
      x = (o + 0.5) / scale - 0.5;
    }
    if (mode == "nearest") {
      double r;
      if (nearest == "floor") r = std::floor(x);
      else if (nearest == "ceil") r = std::ceil(x);
      else if (nearest == "round_prefer_ceil") r = std::floor(x + 0.5);
      else r = std::ceil(x - 0.5);  // round_prefer_floor
      const int64_t i = std::clamp<int64_t>(static_cast<int64_t>(r), 0, input - 1);
      map.low.push_back(i);
      map.high.push_back(i);
      map.weight.push_back(0.0f);
    } else {
      x = std::clamp(x, 0.0, static_cast<double>(input - 1));
      const int64_t lo = static_cast<int64_t>(std::floor(x));
      const int64_t hi = std::min(lo + 1, input - 1);
      map.low.push_back(lo);
      map.high.push_back(hi);
      map.weight.push_back(static_cast<float>(x - lo));
    }
  }
  return map;
}

void resizePlanes(const float* src, const PixelPlanes& in, float* dst, const AxisMap& rows, const AxisMap& cols) {
  const int64_t outH = static_cast<int64_t>(rows.low.size()), outW = static_cast<int64_t>(cols.low.size());
  const int64_t b = in.block;
  const int64_t inPlane = in.height * in.width * b, outPlane = outH * outW * b;
#pragma omp parallel for collapse(2) schedule(static)
  for (int64_t p = 0; p < in.planes; ++p) {
    for (int64_t y = 0; y < outH; ++y) {
      const float* top = src + p * inPlane + rows.low[y] * in.width * b;
      const float* bottom = src + p * inPlane + rows.high[y] * in.width * b;
      const float wy = rows.weight[y];
      float* out = dst + p * outPlane + y * outW * b;
      for (int64_t x = 0; x < outW; ++x) {
        const int64_t l = cols.low[x] * b, h = cols.high[x] * b;
        const float wx = cols.weight[x];
        for (int64_t c = 0; c < b; ++c) {
          const float t = top[l + c] + (top[h + c] - top[l + c]) * wx;
          const float u = bottom[l + c] + (bottom[h + c] - bottom[l + c]) * wx;
          out[x * b + c] = t + (u - t) * wy;
        }
      }
      // The padding channels of the last channel block stay zero.
      if (b > 1 && in.channelBlocks > 0 && in.channels < in.channelBlocks * b && p % in.channelBlocks == in.channelBlocks - 1) {
        const int64_t real = in.channels - (in.channelBlocks - 1) * b;
        for (int64_t x = 0; x < outW; ++x) std::fill(out + x * b + real, out + x * b + b, 0.0f);
      }
    }
  }
}

void meanOverAxis(const float* src, int64_t outer, int64_t axis, int64_t inner, float* dst) {
  const float scale = 1.0f / static_cast<float>(axis);
  // The mean of a picture's channels is one long inner run: it is shared
  // among the threads in pieces.
  constexpr int64_t kPiece = 8192;
  const int64_t pieces = (inner + kPiece - 1) / kPiece;
#pragma omp parallel for collapse(2) schedule(static)
  for (int64_t o = 0; o < outer; ++o) {
    for (int64_t p = 0; p < pieces; ++p) {
      const int64_t begin = p * kPiece, end = std::min(inner, begin + kPiece);
      float* out = dst + o * inner;
      const float* in = src + o * axis * inner;
      std::copy(in + begin, in + end, out + begin);
      for (int64_t k = 1; k < axis; ++k)
        for (int64_t i = begin; i < end; ++i) out[i] += in[k * inner + i];
      for (int64_t i = begin; i < end; ++i) out[i] *= scale;
    }
  }
}

namespace {

void padAxis(const float* src, const Dims& dims, const Dims& srcStrides, float* dst, const Dims& outDims,
             const Dims& dstStrides, const std::vector<int64_t>& pads, float value, size_t axis) {
  const size_t rank = dims.size();
  const int64_t before = pads[axis];
  if (axis + 1 == rank) {
    for (int64_t o = 0; o < outDims[axis]; ++o) {
      const int64_t i = o - before;
      dst[o] = (i >= 0 && i < dims[axis]) ? src[i] : value;
    }
    return;
  }
  for (int64_t o = 0; o < outDims[axis]; ++o) {
    const int64_t i = o - before;
    float* out = dst + o * dstStrides[axis];
    if (i < 0 || i >= dims[axis]) {
      std::fill(out, out + dstStrides[axis], value);
    } else {
      padAxis(src + i * srcStrides[axis], dims, srcStrides, out, outDims, dstStrides, pads, value, axis + 1);
    }
  }
}

void broadcastAxis(const float* src, const Dims& from, const Dims& srcStrides, float* dst, const Dims& dims,
                   const Dims& dstStrides, size_t axis) {
  const int64_t step = from[axis] == 1 ? 0 : srcStrides[axis];
  for (int64_t o = 0; o < dims[axis]; ++o) {
    if (axis + 1 == dims.size()) dst[o] = src[o * step];
    else broadcastAxis(src + o * step, from, srcStrides, dst + o * dstStrides[axis], dims, dstStrides, axis + 1);
  }
}

}  // namespace

void broadcastTo(const float* src, const Dims& from, float* dst, const Dims& dims) {
  if (dims.empty()) {
    dst[0] = src[0];
    return;
  }
  broadcastAxis(src, from, rowMajorStrides(from), dst, dims, rowMajorStrides(dims), 0);
}

void padConstant(const float* src, const Dims& dims, float* dst, const std::vector<int64_t>& pads, float value) {
  if (dims.empty()) {
    dst[0] = src[0];
    return;
  }
  Dims outDims = dims;
  for (size_t k = 0; k < dims.size(); ++k) outDims[k] += pads[k] + pads[k + dims.size()];
  padAxis(src, dims, rowMajorStrides(dims), dst, outDims, rowMajorStrides(outDims), pads, value, 0);
}

}  // namespace kestrel::vision::engine
