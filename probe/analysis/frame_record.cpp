#include "probe/analysis/frame_record.h"

#include <algorithm>
#include <cmath>

namespace kestrel {
namespace {

Box boxOf(const vision::Rect& r, float confidence) {
  return Box{r.x, r.y, std::abs(r.width), std::abs(r.height),
             static_cast<double>(confidence)};
}

struct Extent {
  double minX, maxX, minY, maxY;
};

Extent extentOf(const std::vector<vision::Point>& points) {
  Extent e{points[0].x, points[0].x, points[0].y, points[0].y};
  for (const auto& p : points) {
    e.minX = std::min(e.minX, p.x);
    e.maxX = std::max(e.maxX, p.x);
    e.minY = std::min(e.minY, p.y);
    e.maxY = std::max(e.maxY, p.y);
  }
  return e;
}

// One eye's offset, or nothing when the eye or its pupil is unusable.
std::optional<std::pair<double, double>> eyeGaze(const std::optional<std::vector<vision::Point>>& eye,
                                                 const std::optional<std::vector<vision::Point>>& pupil) {
  if (!eye || !pupil || eye->size() < 3 || pupil->empty()) return std::nullopt;
  const Extent e = extentOf(*eye);
  if (!(e.minX < e.maxX && e.minY < e.maxY)) return std::nullopt;
  const vision::Point p = pupil->front();
  return std::pair{(p.x - (e.maxX + e.minX) * 0.5) / ((e.maxX - e.minX) * 0.5),
                   (p.y - (e.maxY + e.minY) * 0.5) / ((e.maxY - e.minY) * 0.5)};
}

}  // namespace

vision::Requests frameRequests() {
  vision::Requests r;
  r.faceRectangles = true;
  r.humanRectangles = true;
  r.animals = true;
  r.handPose = true;
  r.maximumHandCount = 2;
  r.classify = true;
  r.faceLandmarks = true;
  return r;
}

std::optional<std::vector<double>> gazeOf(const std::vector<vision::LandmarksObservation>& faces) {
  if (faces.empty()) return std::nullopt;
  const vision::LandmarksObservation* best = &faces.front();
  for (const auto& f : faces) {
    if (f.boundingBox.width * f.boundingBox.height >
        best->boundingBox.width * best->boundingBox.height)
      best = &f;
  }
  if (!best->landmarks) return std::nullopt;
  const auto& l = *best->landmarks;
  double sumX = 0, sumY = 0;
  int sides = 0;
  for (auto side : {eyeGaze(l.leftEye, l.leftPupil), eyeGaze(l.rightEye, l.rightPupil)}) {
    if (!side) continue;
    sumX += side->first;
    sumY += side->second;
    ++sides;
  }
  if (sides == 0) return std::nullopt;
  return std::vector<double>{sumX / sides, sumY / sides};
}

std::optional<Box> handBox(const vision::HandObservation& hand) {
  if (!hand.joints) return std::nullopt;
  std::vector<vision::Point> confident;
  for (const auto& j : *hand.joints)
    if (j.confidence > 0.3f) confident.push_back(j.location);
  if (confident.empty()) return std::nullopt;
  const Extent e = extentOf(confident);
  return Box{e.minX, e.minY, e.maxX - e.minX, e.maxY - e.minY,
             static_cast<double>(hand.confidence)};
}

std::vector<Label> topClasses(const std::vector<vision::Classification>& classes) {
  std::vector<vision::Classification> kept;
  for (const auto& c : classes)
    if (c.confidence >= 0.05f) kept.push_back(c);
  std::stable_sort(kept.begin(), kept.end(),
                   [](const auto& a, const auto& b) { return a.confidence > b.confidence; });
  if (kept.size() > 10) kept.resize(10);
  std::vector<Label> labels;
  for (const auto& c : kept) labels.push_back(Label{c.identifier, static_cast<double>(c.confidence)});
  return labels;
}

Frame frameRecord(const vision::Results& results, const media::MediaTime& time,
                  std::vector<uint8_t> thumb) {
  Frame f;
  f.classes = topClasses(results.classes);
  f.gaze = gazeOf(results.landmarks);
  for (const auto& o : results.faces)
    f.faces.push_back(Face{boxOf(o.boundingBox, o.confidence), o.yaw, o.pitch});
  for (const auto& o : results.humans) f.humans.push_back(boxOf(o.boundingBox, o.confidence));
  for (const auto& o : results.animals) {
    if (o.labels.empty()) continue;
    const auto& first = o.labels.front();
    f.animals.push_back(Animal{first.identifier, boxOf(o.boundingBox, first.confidence)});
  }
  for (const auto& o : results.hands)
    if (auto b = handBox(o)) f.hands.push_back(*b);
  f.pts = {time.value, static_cast<int64_t>(time.timescale)};
  f.thumb = std::move(thumb);
  return f;
}

}  // namespace kestrel
