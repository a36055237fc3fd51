// How steady a stream's main-face box is (the box the cutout's header
// carries), and what the faces cost a frame, on two clips: a photo of a face
// panned slowly (a fixed known motion, H.264 noise on every frame) and
// Megamind.avi from opencv-doc (faces that move and talk, with cuts).
//   face_box_bench [clip...]
// Jitter is the mean change of a box edge's motion from one frame to the
// next (its second difference), as a share of the box's width: steady motion
// costs nothing, noise does. Frame pairs where the box jumps by more than half
// its width (a cut, another face) are left out.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "bench/support/median.h"
#include "bench/support/stage_split.h"
#include "platform/vision/vision.h"

using namespace kestrel;
using namespace kestrel::bench;

namespace {

using Box = std::array<double, 4>;  // left, top, right, bottom; shares of the frame

// The largest face's box, as the cutout picks it; nothing without a face.
std::optional<Box> mainFace(const vision::Results& results) {
  const vision::FaceObservation* best = nullptr;
  for (const auto& f : results.faces)
    if (!best || f.boundingBox.width * f.boundingBox.height > best->boundingBox.width * best->boundingBox.height)
      best = &f;
  if (!best) return std::nullopt;
  const vision::Rect& r = best->boundingBox;
  return Box{r.x, 1 - (r.y + r.height), r.x + r.width, 1 - r.y};
}

void measure(const std::string& clip) {
  cv::VideoCapture video(clip);
  if (!video.isOpened()) {
    std::printf("%s: can't open\n", clip.c_str());
    return;
  }
  vision::StreamSession session;
  vision::Requests r;
  r.faceRectangles = true;
  r.session = &session;
  std::vector<std::optional<Box>> boxes;
  const auto before = vision::dnn::stageTimes();
  double ms = 0;
  cv::Mat bgr, bgra;
  while (video.read(bgr)) {
    cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
    const Picture picture{bgra.data, bgra.cols, bgra.rows, static_cast<int64_t>(bgra.step)};
    session.beginFrame();
    vision::Results results;
    std::string error;
    const auto t0 = Clock::now();
    if (!vision::service().handler(picture, 1)->perform(r, results, error)) std::printf("%s\n", error.c_str());
    ms += msSince(t0);
    boxes.push_back(mainFace(results));
  }
  double second = 0, first = 0;
  int triples = 0, pairs = 0, withFace = 0;
  for (size_t t = 0; t < boxes.size(); ++t) {
    withFace += boxes[t].has_value();
    if (t < 1 || !boxes[t] || !boxes[t - 1]) continue;
    const Box &a = *boxes[t - 1], &b = *boxes[t];
    const double side = b[2] - b[0];
    bool jump = false;
    double moved = 0;
    for (int k = 0; k < 4; ++k) {
      jump = jump || std::fabs(b[k] - a[k]) > side / 2;
      moved += std::fabs(b[k] - a[k]) / side / 4;
    }
    if (jump) continue;
    first += moved, ++pairs;
    if (t < 2 || !boxes[t - 2]) continue;
    const Box& z = *boxes[t - 2];
    double change = 0;
    for (int k = 0; k < 4; ++k) {
      jump = jump || std::fabs(a[k] - z[k]) > side / 2;
      change += std::fabs(b[k] - 2 * a[k] + z[k]) / side / 4;
    }
    if (!jump) second += change, ++triples;
  }
  const double n = static_cast<double>(boxes.size());
  const auto stages = stagesSince(before);
  const auto calls = [&](const char* stage) {
    const auto it = stages.find(stage);
    return it == stages.end() ? 0.0 : static_cast<double>(it->second.calls) / n;
  };
  std::printf("%s: %zu frames, %d with a face; box jitter %.2f%% of its width (edges' motion %.2f%% a frame); "
              "faces %.1f ms a frame; runs a frame: BlazeFace %.2f, face mesh %.2f\n",
              clip.c_str(), boxes.size(), withFace, 100 * second / std::max(triples, 1),
              100 * first / std::max(pairs, 1), ms / n, calls("model blazeface"), calls("model facemesh"));
}

// The astronaut's face panned slowly across a 640x360 frame: half a pixel a
// frame to the left, 80 frames at 25 per second, H.264.
std::string pannedFace() {
  const std::string path = "/tmp/face_box_bench_pan.mp4";
  const std::string command =
      "ffmpeg -v error -y -loop 1 -i /usr/lib/python3/dist-packages/skimage/data/astronaut.png -vf "
      "'scale=3200:3200:flags=bicubic,crop=w=2560:h=1440:x=200+2*n:y=0:exact=1,scale=640:360:flags=area,format=yuv420p' "
      "-frames:v 80 -r 25 -c:v libx264 -crf 23 " + path;
  return std::system(command.c_str()) == 0 ? path : "";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> clips(argv + 1, argv + argc);
  if (clips.empty()) clips = {pannedFace(), "/usr/share/doc/opencv-doc/examples/data/Megamind.avi"};
  for (const std::string& clip : clips) measure(clip);
  return 0;
}
