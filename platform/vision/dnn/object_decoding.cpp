#include "platform/vision/dnn/object_decoding.h"

#include <algorithm>
#include <map>

namespace kestrel::vision::dnn {

std::vector<Detection> heatMapPeaks(const HeatMaps& m, const Letterbox& box, float minScore) {
  std::vector<Detection> found;
  const size_t plane = static_cast<size_t>(m.rows) * m.cols;
  const double input = box.side;
  for (int c = 0; c < m.classes; ++c) {
    const float* h = m.heat + plane * c;
    for (int y = 0; y < m.rows; ++y) {
      for (int x = 0; x < m.cols; ++x) {
        const float v = h[static_cast<size_t>(y) * m.cols + x];
        if (!(v >= minScore)) continue;
        bool peak = true;
        for (int dy = -1; dy <= 1 && peak; ++dy)
          for (int dx = -1; dx <= 1 && peak; ++dx) {
            const int yy = y + dy, xx = x + dx;
            if (yy < 0 || yy >= m.rows || xx < 0 || xx >= m.cols) continue;
            if (h[static_cast<size_t>(yy) * m.cols + xx] > v) peak = false;
          }
        if (!peak) continue;
        const size_t at = static_cast<size_t>(y) * m.cols + x;
        const double cx = static_cast<double>(x) * m.stride, cy = static_cast<double>(y) * m.stride;
        const double x0 = (cx - m.distances[at]) / input, y0 = (cy - m.distances[plane + at]) / input;
        const double x1 = (cx + m.distances[2 * plane + at]) / input;
        const double y1 = (cy + m.distances[3 * plane + at]) / input;
        Detection d;
        d.cls = c;
        d.score = v;
        d.box = {std::clamp(box.toPictureX(x0), 0.0, static_cast<double>(box.width)),
                 std::clamp(box.toPictureY(y0), 0.0, static_cast<double>(box.height)),
                 std::clamp(box.toPictureX(x1), 0.0, static_cast<double>(box.width)),
                 std::clamp(box.toPictureY(y1), 0.0, static_cast<double>(box.height))};
        if (d.box.x1 > d.box.x0 && d.box.y1 > d.box.y0) found.push_back(d);
      }
    }
  }
  return found;
}

std::vector<float> classMaxima(const HeatMaps& m) {
  const size_t plane = static_cast<size_t>(m.rows) * m.cols;
  std::vector<float> best(static_cast<size_t>(m.classes), 0.0f);
  for (int c = 0; c < m.classes && plane > 0; ++c)
    best[c] = *std::max_element(m.heat + plane * c, m.heat + plane * (c + 1));
  return best;
}

std::vector<Detection> suppressPerClass(const std::vector<Detection>& detections, double maxOverlap) {
  std::map<int, std::vector<size_t>> byClass;
  for (size_t i = 0; i < detections.size(); ++i) byClass[detections[i].cls].push_back(i);
  std::vector<Detection> kept;
  for (const auto& [cls, members] : byClass) {
    std::vector<Corners> boxes;
    std::vector<float> scores;
    for (size_t i : members) {
      boxes.push_back(detections[i].box);
      scores.push_back(detections[i].score);
    }
    for (size_t k : suppressOverlaps(boxes, scores, maxOverlap)) kept.push_back(detections[members[k]]);
  }
  std::stable_sort(kept.begin(), kept.end(),
                   [](const Detection& a, const Detection& b) { return a.score > b.score; });
  return kept;
}

std::vector<AnimalGroup> groupAnimals(const std::vector<Detection>& animals, double sameObject) {
  std::vector<Detection> rest = animals;
  std::stable_sort(rest.begin(), rest.end(),
                   [](const Detection& a, const Detection& b) { return a.score > b.score; });
  std::vector<AnimalGroup> groups;
  while (!rest.empty()) {
    AnimalGroup group{rest.front()};
    std::vector<Detection> left;
    for (size_t i = 1; i < rest.size(); ++i) {
      const Detection& d = rest[i];
      const bool classSeen = std::any_of(group.begin(), group.end(),
                                         [&](const Detection& g) { return g.cls == d.cls; });
      if (intersectionOverUnion(group.front().box, d.box) > sameObject) {
        if (!classSeen) group.push_back(d);  // a weaker duplicate of a class is dropped
      } else {
        left.push_back(d);
      }
    }
    groups.push_back(std::move(group));
    rest = std::move(left);
  }
  return groups;
}

}  // namespace kestrel::vision::dnn
