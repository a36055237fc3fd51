#include "platform/vision/dnn/instance_map.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include <opencv2/imgproc.hpp>

namespace kestrel::vision::dnn {
namespace {

cv::Mat disc(int radius) {
  return cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * radius + 1, 2 * radius + 1));
}

// Splits one component (its pixels `comp` within the bounding box) into the
// person's part and the objects away from the person, writing provisional
// ids into `ids`. Returns false when the component stays whole.
bool splitPerson(const cv::Mat& comp, const cv::Mat& person, const cv::Mat& check,
                 const InstanceSettings& settings, int minArea, cv::Mat ids, int& next) {
  const int rimRadius = settings.rimRadius;
  cv::Mat isPerson = person >= settings.personLevel;
  cv::Mat personPart = comp & isPerson;
  cv::Mat other = comp & ~isPerson;
  if (cv::countNonZero(personPart) < minArea || cv::countNonZero(other) < minArea) return false;
  // The matte's edge rarely matches the salient map's: opening drops the thin
  // rim around the body, so only solid pieces count as objects.
  cv::Mat cores;
  cv::morphologyEx(other, cores, cv::MORPH_OPEN, disc(rimRadius));
  cv::Mat coreIds, stats, centroids;
  const int n = cv::connectedComponentsWithStats(cores, coreIds, stats, centroids, 8, CV_32S);
  cv::Mat kept = cv::Mat::zeros(comp.size(), CV_16U);
  int objects = 0;
  for (int c = 1; c < n && objects < 255; ++c) {
    if (stats.at<int>(c, cv::CC_STAT_AREA) < minArea) continue;
    cv::Mat piece = coreIds == c;
    if (cv::mean(person, piece)[0] >= settings.objectLevel) continue;
    if (!check.empty() && cv::mean(check, piece)[0] >= settings.objectLevel) continue;
    ++objects;
    kept.setTo(objects, coreIds == c);
  }
  if (objects == 0) return false;
  // Give each object back the edge the opening took, within the non-person part.
  cv::Mat grown;
  cv::dilate(kept, grown, disc(rimRadius));
  grown.setTo(0, ~other);
  const int personId = next++;
  const int firstObject = next;
  next += objects;
  for (int y = 0; y < comp.rows; ++y) {
    const uint8_t* c = comp.ptr<uint8_t>(y);
    const uint16_t* g = grown.ptr<uint16_t>(y);
    int* out = ids.ptr<int>(y);
    for (int x = 0; x < comp.cols; ++x) {
      if (!c[x]) continue;
      out[x] = g[x] ? firstObject + g[x] - 1 : personId;
    }
  }
  return true;
}

// Keeps the 255 largest ids and numbers them 1..255 in raster order of first appearance.
InstanceObservation renumber(const cv::Mat& ids, int count) {
  std::vector<int64_t> area(static_cast<size_t>(count) + 1, 0);
  for (int y = 0; y < ids.rows; ++y) {
    const int* p = ids.ptr<int>(y);
    for (int x = 0; x < ids.cols; ++x) ++area[static_cast<size_t>(p[x])];
  }
  std::vector<bool> keep(area.size(), false);
  std::vector<int> order;
  for (int i = 1; i <= count; ++i)
    if (area[static_cast<size_t>(i)] > 0) order.push_back(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return area[static_cast<size_t>(a)] > area[static_cast<size_t>(b)]; });
  if (order.size() > 255) order.resize(255);
  for (int i : order) keep[static_cast<size_t>(i)] = true;

  InstanceObservation map;
  map.width = ids.cols;
  map.height = ids.rows;
  map.stride = ids.cols;
  map.labels.assign(static_cast<size_t>(ids.cols) * static_cast<size_t>(ids.rows), 0);
  std::vector<uint8_t> label(area.size(), 0);
  int next = 1;
  for (int y = 0; y < ids.rows; ++y) {
    const int* p = ids.ptr<int>(y);
    uint8_t* out = map.labels.data() + static_cast<size_t>(y) * static_cast<size_t>(ids.cols);
    for (int x = 0; x < ids.cols; ++x) {
      const auto id = static_cast<size_t>(p[x]);
      if (!id || !keep[id]) continue;
      if (!label[id]) {
        label[id] = static_cast<uint8_t>(next++);
        map.allInstances.push_back(label[id]);
      }
      out[x] = label[id];
    }
  }
  return map;
}

cv::Mat labelView(const InstanceObservation& map) {
  return cv::Mat(static_cast<int>(map.height), static_cast<int>(map.width), CV_8U,
                 const_cast<uint8_t*>(map.labels.data()), static_cast<size_t>(map.stride));
}

// The chosen instances widened by the rim, less every other instance (CV_8U 0/255).
// Empty when no chosen instance is present.
cv::Mat chosenRegion(const InstanceObservation& map, const std::vector<uint8_t>& chosen, int rimRadius) {
  bool wanted[256] = {};
  for (uint8_t c : chosen) wanted[c] = c != 0;
  bool any = false;
  for (uint8_t present : map.allInstances) any = any || wanted[present];
  if (!any || map.labels.empty()) return {};
  cv::Mat lut(1, 256, CV_8U, cv::Scalar(0));
  for (int i = 0; i < 256; ++i) lut.at<uint8_t>(i) = wanted[i] ? 255 : 0;
  cv::Mat labels = labelView(map);
  cv::Mat mine, region;
  cv::LUT(labels, lut, mine);
  cv::dilate(mine, region, disc(rimRadius));
  cv::Mat others = (labels != 0) & ~mine;
  region.setTo(0, others);
  return region;
}

}  // namespace

int minimumArea(const cv::Size& size, const InstanceSettings& settings) {
  const double area = static_cast<double>(size.area()) * settings.minShare;
  return std::max(1, static_cast<int>(std::ceil(area)));
}

InstanceObservation labelInstances(const cv::Mat& salient, const cv::Mat& person,
                                   const cv::Mat& check, const InstanceSettings& settings) {
  CV_Assert(salient.type() == CV_32F);
  CV_Assert(person.empty() || (person.type() == CV_8U && person.size() == salient.size()));
  CV_Assert(check.empty() || (check.type() == CV_8U && check.size() == salient.size()));
  cv::Mat fg = salient >= settings.threshold;
  cv::Mat cc, stats, centroids;
  const int n = cv::connectedComponentsWithStats(fg, cc, stats, centroids, 8, CV_32S);
  const int minArea = minimumArea(salient.size(), settings);

  cv::Mat ids = cv::Mat::zeros(salient.size(), CV_32S);
  int next = 1;
  for (int c = 1; c < n; ++c) {
    if (stats.at<int>(c, cv::CC_STAT_AREA) < minArea) continue;
    const cv::Rect box(stats.at<int>(c, cv::CC_STAT_LEFT), stats.at<int>(c, cv::CC_STAT_TOP),
                       stats.at<int>(c, cv::CC_STAT_WIDTH), stats.at<int>(c, cv::CC_STAT_HEIGHT));
    cv::Mat comp = cc(box) == c;
    if (!person.empty() &&
        splitPerson(comp, person(box), check.empty() ? check : check(box), settings, minArea,
                    ids(box), next))
      continue;
    ids(box).setTo(next++, comp);
  }
  return renumber(ids, next - 1);
}

Matte scaledChosenMask(const cv::Mat& salient, const InstanceObservation& map,
                       const std::vector<uint8_t>& chosen, int width, int height,
                       const InstanceSettings& settings) {
  Matte out;
  out.width = width;
  out.height = height;
  out.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  cv::Mat region = chosenRegion(map, chosen, settings.rimRadius);
  if (region.empty() || region.size() != salient.size() || width <= 0 || height <= 0) return out;
  cv::Mat soft = cv::Mat::zeros(salient.size(), CV_32F);
  salient.copyTo(soft, region);
  // Linear scaling keeps the salient map's soft edges; the nearest region keeps
  // everything outside the chosen instances at zero.
  cv::Mat up, regionUp;
  cv::resize(soft, up, cv::Size(width, height), 0, 0, cv::INTER_LINEAR);
  cv::resize(region, regionUp, cv::Size(width, height), 0, 0, cv::INTER_NEAREST_EXACT);
  cv::Mat bytes(height, width, CV_8U, out.pixels.data());
  up.convertTo(bytes, CV_8U, 255.0);
  bytes.setTo(0, regionUp == 0);
  return out;
}

}  // namespace kestrel::vision::dnn
