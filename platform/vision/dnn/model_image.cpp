#include "platform/vision/dnn/model_image.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <opencv2/imgproc.hpp>

#include "platform/vision/dnn/stage_times.h"

namespace kestrel::vision::dnn {
namespace {

bool quarterTurn(uint32_t orientation) { return orientation == 6 || orientation == 8; }

}  // namespace

ModelImage::ModelImage(PixelSource& source, uint32_t orientation)
    : source_(source), orientation_(orientation), width_(static_cast<int>(source.width())),
      height_(static_cast<int>(source.height())) {
  cols_ = quarterTurn(orientation) ? height_ : width_;
  rows_ = quarterTurn(orientation) ? width_ : height_;
}

// Orientation 6 shows stored (x, y) at upright (H - 1 - y, x), 8 at
// (y, W - 1 - x), 3 at (W - 1 - x, H - 1 - y).
cv::Rect ModelImage::stored(const cv::Rect& u) const {
  switch (orientation_) {
    case 3: return {width_ - u.x - u.width, height_ - u.y - u.height, u.width, u.height};
    case 6: return {u.y, height_ - u.x - u.width, u.height, u.width};
    case 8: return {width_ - u.y - u.height, u.x, u.height, u.width};
    default: return u;
  }
}

cv::Rect ModelImage::upright(const cv::Rect& s) const {
  switch (orientation_) {
    case 3: return {width_ - s.x - s.width, height_ - s.y - s.height, s.width, s.height};
    case 6: return {height_ - s.y - s.height, s.x, s.height, s.width};
    case 8: return {s.y, width_ - s.x - s.width, s.height, s.width};
    default: return s;
  }
}

cv::Mat ModelImage::fetch(const cv::Rect& s, int width, int height) {
  const StageTimer timer("convert");
  const bool turned = quarterTurn(orientation_);
  cv::Mat out(turned ? width : height, turned ? height : width, CV_8UC3);
  if (!source_.bgr({s.x, s.y, s.width, s.height}, out.cols, out.rows, out.data, static_cast<int64_t>(out.step)))
    throw std::runtime_error("the picture can't be converted");
  switch (orientation_) {
    case 3: cv::rotate(out, out, cv::ROTATE_180); break;
    case 6: cv::rotate(out, out, cv::ROTATE_90_CLOCKWISE); break;
    case 8: cv::rotate(out, out, cv::ROTATE_90_COUNTERCLOCKWISE); break;
    default: break;
  }
  return out;
}

cv::Mat ModelImage::scaled(const cv::Size& size) { return fetch({0, 0, width_, height_}, size.width, size.height); }

cv::Mat ModelImage::letterbox(const Letterbox& box) {
  cv::Mat square(box.side, box.side, CV_8UC3, cv::Scalar::all(0));
  scaled({box.innerWidth, box.innerHeight}).copyTo(square(cv::Rect(box.offsetX, box.offsetY, box.innerWidth, box.innerHeight)));
  return square;
}

cv::Mat ModelImage::region(const cv::Rect& wanted, cv::Rect& got) {
  const cv::Rect inside = wanted & cv::Rect(0, 0, cols_, rows_);
  got = {};
  if (inside.empty()) return {};
  // Widen the stored region to the source's alignment, within the picture:
  // an odd-sized part of subsampled chroma would be stretched a little.
  cv::Rect s = stored(inside);
  const int a = static_cast<int>(std::max<int64_t>(1, source_.alignment()));
  const int x0 = s.x / a * a, y0 = s.y / a * a;
  const int x1 = std::min((s.x + s.width + a - 1) / a * a, width_);
  const int y1 = std::min((s.y + s.height + a - 1) / a * a, height_);
  s = cv::Rect(x0, y0, x1 - x0, y1 - y0);
  got = upright(s);
  return fetch(s, got.width, got.height);
}

cv::Mat ModelImage::affineCrop(const std::array<double, 6>& m, int side) {
  cv::Mat forward(2, 3, CV_64F, const_cast<double*>(m.data())), back;
  cv::invertAffineTransform(forward, back);
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  for (const auto& [u, v] : {std::pair{0, 0}, {side, 0}, {0, side}, {side, side}}) {
    const double x = back.at<double>(0, 0) * u + back.at<double>(0, 1) * v + back.at<double>(0, 2);
    const double y = back.at<double>(1, 0) * u + back.at<double>(1, 1) * v + back.at<double>(1, 2);
    x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
  }
  cv::Mat crop(side, side, CV_8UC3, cv::Scalar::all(0));
  // Bilinear sampling reads a pixel beyond each sample position.
  const double limit = 1e6;
  const cv::Rect wanted(cv::Point(static_cast<int>(std::floor(std::clamp(x0, -limit, limit))) - 2,
                                  static_cast<int>(std::floor(std::clamp(y0, -limit, limit))) - 2),
                        cv::Point(static_cast<int>(std::ceil(std::clamp(x1, -limit, limit))) + 3,
                                  static_cast<int>(std::ceil(std::clamp(y1, -limit, limit))) + 3));
  cv::Rect got;
  const cv::Mat part = region(wanted, got);
  if (part.empty()) return crop;
  cv::Mat local = forward.clone();
  local.at<double>(0, 2) += m[0] * got.x + m[1] * got.y;
  local.at<double>(1, 2) += m[3] * got.x + m[4] * got.y;
  const StageTimer timer("convert");
  cv::warpAffine(part, crop, local, crop.size(), cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
  return crop;
}

cv::Mat ModelImage::square(const cv::Rect& area, int side) {
  cv::Mat out(side, side, CV_8UC3, cv::Scalar::all(0));
  cv::Rect got;
  const cv::Mat part = region(area, got);
  if (part.empty() || area.width <= 0) return out;
  const double k = static_cast<double>(side) / area.width;
  const cv::Rect to = cv::Rect(cv::Point(static_cast<int>(std::lround((got.x - area.x) * k)),
                                         static_cast<int>(std::lround((got.y - area.y) * k))),
                               cv::Point(static_cast<int>(std::lround((got.br().x - area.x) * k)),
                                         static_cast<int>(std::lround((got.br().y - area.y) * k))));
  // `got` may start a pixel before `area`: keep what lands in the square.
  const cv::Rect kept = to & cv::Rect(0, 0, side, side);
  if (kept.empty()) return out;
  cv::Mat scaled;
  if (to.size() == part.size())
    scaled = part;
  else
    cv::resize(part, scaled, to.size(), 0, 0, k < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
  scaled(kept - to.tl()).copyTo(out(kept));
  return out;
}

}  // namespace kestrel::vision::dnn
