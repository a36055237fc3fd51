#include "platform/vision/dnn/person_split.h"

#include <algorithm>
#include <cmath>

#include <opencv2/imgproc.hpp>

namespace kestrel::vision::dnn {
namespace {

double area(const Corners& b) { return std::max(0.0, b.x1 - b.x0) * std::max(0.0, b.y1 - b.y0); }

double overlap(const Corners& a, const Corners& b) {
  const double w = std::min(a.x1, b.x1) - std::max(a.x0, b.x0);
  const double h = std::min(a.y1, b.y1) - std::max(a.y0, b.y0);
  return w > 0 && h > 0 ? w * h : 0;
}

// `small` is `large` again: mostly inside it, with about the same top and centre.
bool sameThing(const Corners& large, const Corners& small) {
  const double w = large.x1 - large.x0, h = large.y1 - large.y0;
  return overlap(large, small) >= 0.8 * area(small) && std::abs(large.y0 - small.y0) <= 0.15 * h &&
         std::abs((large.x0 + large.x1) - (small.x0 + small.x1)) / 2 <= 0.25 * w;
}

// How deep a pixel centre lies in a box: below 1 inside, 1 on its edge.
double depth(const Corners& b, double x, double y) {
  const double hw = std::max((b.x1 - b.x0) / 2, 0.5), hh = std::max((b.y1 - b.y0) / 2, 0.5);
  return std::max(std::abs(x - (b.x0 + b.x1) / 2) / hw, std::abs(y - (b.y0 + b.y1) / 2) / hh);
}

}  // namespace

int splitPeople(const cv::Mat& isPerson, const std::vector<Corners>& boxes,
                const PersonSplitSettings& settings, cv::Mat& ids, int next) {
  CV_Assert(isPerson.type() == CV_8U && ids.type() == CV_32S && ids.size() == isPerson.size());
  cv::Mat cc, stats, centroids;
  const int n = cv::connectedComponentsWithStats(isPerson != 0, cc, stats, centroids, 8, CV_32S);
  const cv::Rect frame(0, 0, isPerson.cols, isPerson.rows);

  // Each box to the component that fills most of it.
  std::vector<std::vector<Corners>> fitted(static_cast<size_t>(n));
  std::vector<int> inside(static_cast<size_t>(n));
  for (const Corners& b : boxes) {
    const cv::Rect r = cv::Rect(cv::Point(static_cast<int>(std::floor(b.x0)), static_cast<int>(std::floor(b.y0))),
                                cv::Point(static_cast<int>(std::ceil(b.x1)), static_cast<int>(std::ceil(b.y1)))) &
                       frame;
    if (r.empty()) continue;
    std::fill(inside.begin(), inside.end(), 0);
    for (int y = r.y; y < r.y + r.height; ++y) {
      const int* row = cc.ptr<int>(y);
      for (int x = r.x; x < r.x + r.width; ++x) ++inside[static_cast<size_t>(row[x])];
    }
    int best = 0;
    for (int c = 1; c < n; ++c)
      if (inside[static_cast<size_t>(c)] > inside[static_cast<size_t>(best)] || best == 0) best = c;
    if (best > 0 && inside[static_cast<size_t>(best)] >= settings.boxFill * static_cast<double>(r.area()))
      fitted[static_cast<size_t>(best)].push_back(b);
  }

  for (int c = 1; c < n; ++c) {
    if (stats.at<int>(c, cv::CC_STAT_AREA) < settings.minArea) continue;
    std::vector<Corners> mine = fitted[static_cast<size_t>(c)];
    std::stable_sort(mine.begin(), mine.end(), [](const Corners& a, const Corners& b) { return area(a) > area(b); });
    std::vector<Corners> people;
    for (const Corners& b : mine)
      if (std::none_of(people.begin(), people.end(), [&](const Corners& p) { return sameThing(p, b); }))
        people.push_back(b);

    const cv::Rect box(stats.at<int>(c, cv::CC_STAT_LEFT), stats.at<int>(c, cv::CC_STAT_TOP),
                       stats.at<int>(c, cv::CC_STAT_WIDTH), stats.at<int>(c, cv::CC_STAT_HEIGHT));
    for (int y = box.y; y < box.y + box.height; ++y) {
      const int* row = cc.ptr<int>(y);
      int* out = ids.ptr<int>(y);
      for (int x = box.x; x < box.x + box.width; ++x) {
        if (row[x] != c) continue;
        size_t deepest = 0;
        for (size_t k = 1; k < people.size(); ++k)
          if (depth(people[k], x + 0.5, y + 0.5) < depth(people[deepest], x + 0.5, y + 0.5)) deepest = k;
        out[x] = next + static_cast<int>(deepest);
      }
    }
    next += std::max<int>(1, static_cast<int>(people.size()));
  }
  return next;
}

}  // namespace kestrel::vision::dnn
