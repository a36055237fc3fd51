// Times the person gate's steps on a 1920 x 1080 frame: a person matte at the
// segmentation's 256 x 256, an instance mask with the person, an object held in
// front of the body that reaches past the widened person, a background object
// and scattered specks. Prints the median and best of many runs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "bench/support/median.h"
#include "platform/imaging/imaging.h"
#include "probe/cutout/gate_and_restore.h"

namespace {

void report(const char* name, int runs, const std::function<void()>& prepare,
            const std::function<void()>& work) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    prepare();
    const auto start = kestrel::bench::Clock::now();
    work();
    ms.push_back(kestrel::bench::msSince(start));
  }
  std::printf("%-44s median %7.3f ms   best %7.3f ms   (%d runs)\n", name, kestrel::bench::median(ms),
              *std::min_element(ms.begin(), ms.end()), runs);
}

}  // namespace

int main() {
  using namespace kestrel;
  const int width = 1920, height = 1080;
  const size_t n = static_cast<size_t>(width) * height;

  // Person matte at the segmentation's own size: head, shoulders, soft edges.
  cv::Mat matte(256, 256, CV_8U, cv::Scalar(0));
  cv::circle(matte, {128, 70}, 34, cv::Scalar(255), -1);
  cv::ellipse(matte, {128, 220}, {80, 110}, 0, 0, 360, cv::Scalar(255), -1);
  cv::GaussianBlur(matte, matte, {9, 9}, 0);

  std::vector<uint8_t> personMask(n), personWide(n);
  const Picture matteView = greyPlane(const_cast<const uint8_t*>(matte.data), 256, 256);
  const MutablePicture personPlane = greyPlane(personMask.data(), width, height);
  const MutablePicture widePlane = greyPlane(personWide.data(), width, height);
  imaging::scaleMatte(matteView, personPlane);
  imaging::dilateDisk(personPlane, widePlane, 12.0);

  // Instance mask: the person, a board held in front of the body and reaching
  // beyond it, a chair behind, and specks.
  cv::Mat instance(height, width, CV_8U);
  cv::threshold(cv::Mat(height, width, CV_8U, personMask.data()), instance, 100, 255,
                cv::THRESH_BINARY);
  cv::rectangle(instance, {300, 650}, {1650, 820}, cv::Scalar(255), -1);
  cv::rectangle(instance, {1700, 250}, {1900, 700}, cv::Scalar(255), -1);
  cv::RNG rng(7);
  for (int i = 0; i < 40; ++i)
    cv::circle(instance, {rng.uniform(0, width), rng.uniform(0, height)}, rng.uniform(3, 20),
               cv::Scalar(255), -1);
  cv::GaussianBlur(instance, instance, {5, 5}, 0);
  const std::vector<uint8_t> instanceMask(instance.data, instance.data + n);

  std::vector<uint8_t> mask(n);
  std::vector<int32_t> ids(n, -1);
  const int64_t chin = 400;
  const auto reset = [&] { std::copy(instanceMask.begin(), instanceMask.end(), mask.begin()); };

  reset();
  const GateMaps maps{greyPlane(mask.data(), width, height), greyPlane(instanceMask.data(), width, height),
                      widePlane, personPlane, ids};
  const int64_t cut = gateAndRestore(maps, chin);
  const int32_t regions = *std::max_element(ids.begin(), ids.end()) + 1;
  const auto restored = std::count_if(mask.begin(), mask.end(), [](uint8_t v) { return v >= 128; });
  std::printf("frame %dx%d: cut %lld pixels in %d regions; %lld foreground after restore\n", width,
              height, static_cast<long long>(cut), regions, static_cast<long long>(restored));

  report("gateAndRestore", 200, reset, [&] {
    gateAndRestore(maps, chin);
  });
  report(
      "dilateDisk r=12 (row segments)", 100, [] {},
      [&] { imaging::dilateDisk(personPlane, widePlane, 12.0); });
  const cv::Mat from(height, width, CV_8U, personMask.data());
  cv::Mat to(height, width, CV_8U);
  const cv::Mat ellipse = cv::getStructuringElement(cv::MORPH_ELLIPSE, {25, 25});
  report(
      "cv::dilate r=12 elliptical kernel (reference)", 30, [] {},
      [&] { cv::dilate(from, to, ellipse); });
  report(
      "scaleMatte 256x256 -> 1920x1080", 200, [] {},
      [&] {
        imaging::scaleMatte(matteView, personPlane);
      });
  std::printf("OpenCV threads: %d\n", cv::getNumThreads());
  return 0;
}
