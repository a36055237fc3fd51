#include "platform/vision/dnn/bgra_pixels.h"

#include <algorithm>

#include <omp.h>
#include <opencv2/imgproc.hpp>

#include "platform/imaging/box_shrink.h"

namespace kestrel::vision::dnn {
namespace {

// The frame's shrink is on every frame's path, alone on one core while the
// networks' threads wait: bands of its rows shrink side by side.
bool shrinkInBands(Picture source, int64_t factor, MutablePicture out) {
  const int64_t bands = std::clamp<int64_t>(omp_get_max_threads(), 1, out.height);
  bool ok = true;
#pragma omp parallel for reduction(&& : ok) if (bands > 1 && out.width * out.height >= 16384)
  for (int64_t band = 0; band < bands; ++band) {
    const int64_t y0 = out.height * band / bands, y1 = out.height * (band + 1) / bands;
    const int64_t from = y0 * factor, to = std::min(y1 * factor, source.height);
    const Picture rows{source.row(from), source.width, to - from, source.stride, source.format};
    const MutablePicture into{out.row(y0), out.width, y1 - y0, out.stride, out.format};
    ok = imaging::shrinkByWholeFactor(rows, factor, into) && ok;
  }
  return ok;
}

}  // namespace

Picture BgraPixels::shrunk(int64_t factor, bool make) {
  const auto kept = std::find_if(shrunk_.begin(), shrunk_.end(), [&](const Shrunk& s) { return s.factor == factor; });
  if (kept != shrunk_.end()) return kept->picture;
  if (!make) return {};
  Shrunk s;
  s.factor = factor;
  const int64_t width = imaging::shrunkSide(picture_.width, factor);
  const int64_t height = imaging::shrunkSide(picture_.height, factor);
  s.bytes.resize(static_cast<size_t>(3 * width * height));
  const MutablePicture out{s.bytes.data(), width, height, 3 * width, PixelFormat::Bgr8};
  if (!shrinkInBands(picture_, factor, out)) return {};
  s.picture = out;
  shrunk_.push_back(std::move(s));
  return shrunk_.back().picture;
}

bool BgraPixels::bgr(const PixelRegion& r, int w, int h, uint8_t* out, int64_t outStride) {
  if (!picture_.data || r.x < 0 || r.y < 0 || r.width <= 0 || r.height <= 0 || w <= 0 || h <= 0 ||
      r.x + r.width > picture_.width || r.y + r.height > picture_.height)
    return false;
  cv::Mat dst(h, w, CV_8UC3, out, static_cast<size_t>(outStride));
  const int64_t factor = imaging::largestWholeFactor(r, w, h);
  const bool all = r.width == picture_.width && r.height == picture_.height;
  if (const Picture small = factor > 1 ? shrunk(factor, all) : Picture{}; small.data) {
    const cv::Mat level(static_cast<int>(small.height), static_cast<int>(small.width), CV_8UC3,
                        const_cast<uint8_t*>(small.data), static_cast<size_t>(small.stride));
    const cv::Mat part = level(cv::Rect(static_cast<int>(r.x / factor), static_cast<int>(r.y / factor),
                                        static_cast<int>(r.width / factor), static_cast<int>(r.height / factor)));
    if (part.size() == dst.size())
      part.copyTo(dst);
    else
      cv::resize(part, dst, dst.size(), 0, 0, cv::INTER_AREA);
    return true;
  }
  const cv::Mat bgra(static_cast<int>(picture_.height), static_cast<int>(picture_.width), CV_8UC4,
                     const_cast<uint8_t*>(picture_.data), static_cast<size_t>(picture_.stride));
  const cv::Mat part = bgra(cv::Rect(static_cast<int>(r.x), static_cast<int>(r.y), static_cast<int>(r.width),
                                     static_cast<int>(r.height)));
  if (part.cols == w && part.rows == h) {
    cv::cvtColor(part, dst, cv::COLOR_BGRA2BGR);
    return true;
  }
  // Shrunk by half or more, area averaging keeps what bilinear sampling would
  // skip; by less, bilinear samples already read every pixel, and averaging
  // over fractional areas costs seven times as much (1.6 ms from 640x360 to
  // 480x270).
  cv::Mat scaled;
  const bool halfOrMore = 2 * w <= part.cols || 2 * h <= part.rows;
  cv::resize(part, scaled, dst.size(), 0, 0, halfOrMore ? cv::INTER_AREA : cv::INTER_LINEAR);
  cv::cvtColor(scaled, dst, cv::COLOR_BGRA2BGR);
  return true;
}

}  // namespace kestrel::vision::dnn
