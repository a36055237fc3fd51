#include "platform/vision/dnn/instance_map.h"

#include <algorithm>
#include <cmath>
#include <map>

#include <opencv2/imgproc.hpp>

#include "platform/vision/dnn/person_split.h"

namespace kestrel::vision::dnn {
namespace {

cv::Mat disc(int radius) {
  return cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * radius + 1, 2 * radius + 1));
}

// Objects: the salient foreground less the person pixels, as ids from `next`
// on. Next to a person only solid pieces count (an opening drops the rim a
// salient outline leaves around the body); each then gets back the edge the
// opening took, within the foreground that is no person.
int labelObjects(const cv::Mat& salient, const cv::Mat& person, const InstanceSettings& settings,
                 int minArea, cv::Mat& ids, int next) {
  cv::Mat other = salient >= settings.threshold;
  cv::Mat cores = other;
  const bool people = !person.empty() && cv::countNonZero(person >= settings.personLevel) > 0;
  if (people) {
    const cv::Mat isPerson = person >= settings.personLevel;
    other.setTo(0, isPerson);
    cv::Mat opened, near;
    cv::morphologyEx(other, opened, cv::MORPH_OPEN, disc(settings.rimRadius));
    cv::dilate(isPerson, near, disc(2 * settings.rimRadius + 1));
    cores = opened | (other & ~near);
  }
  cv::Mat coreIds, stats, centroids;
  const int n = cv::connectedComponentsWithStats(cores, coreIds, stats, centroids, 8, CV_32S);
  cv::Mat kept = cv::Mat::zeros(salient.size(), CV_16U);
  int objects = 0;
  for (int c = 1; c < n && objects < 65535; ++c) {
    if (stats.at<int>(c, cv::CC_STAT_AREA) < minArea) continue;
    const cv::Mat piece = coreIds == c;
    if (people && cv::mean(person, piece)[0] >= settings.objectLevel) continue;
    kept.setTo(++objects, piece);
  }
  if (objects == 0) return next;
  if (people) {
    cv::Mat grown;
    cv::dilate(kept, grown, disc(settings.rimRadius));
    grown.setTo(0, ~other);
    kept = grown;
  }
  for (int y = 0; y < kept.rows; ++y) {
    const uint16_t* k = kept.ptr<uint16_t>(y);
    int* out = ids.ptr<int>(y);
    for (int x = 0; x < kept.cols; ++x)
      if (k[x] && !out[x]) out[x] = next + k[x] - 1;
  }
  return next + objects;
}

// Whether an instance lies at least half inside `r` and fills a share of it.
bool holdsAnInstance(const cv::Mat& ids, const cv::Rect& r, const std::vector<int64_t>& area, double share) {
  std::map<int, int64_t> inside;
  for (int y = r.y; y < r.y + r.height; ++y) {
    const int* p = ids.ptr<int>(y);
    for (int x = r.x; x < r.x + r.width; ++x)
      if (p[x]) ++inside[p[x]];
  }
  for (const auto& [id, n] : inside)
    if (2 * n >= area[static_cast<size_t>(id)] && static_cast<double>(n) >= share * r.area()) return true;
  return false;
}

// Things from the detector's boxes, as ids from `next` on: in each box what
// no instance and no person holds yet, when it is large enough. A box whose
// thing is an instance already (messi5's ball, a piece of the person matte
// that fills a fifth of its loose box) adds nothing: what is left of it is the
// background around the thing. A hand or arm reaching into the box is part of
// a person mostly outside it, and does not count.
int labelThings(const std::vector<Corners>& boxes, const cv::Mat& person, const InstanceSettings& settings,
                int minArea, cv::Mat& ids, int next) {
  if (boxes.empty()) return next;
  std::vector<int64_t> area(static_cast<size_t>(next), 0);
  for (int y = 0; y < ids.rows; ++y) {
    const int* p = ids.ptr<int>(y);
    for (int x = 0; x < ids.cols; ++x) ++area[static_cast<size_t>(p[x])];
  }
  const cv::Rect map(0, 0, ids.cols, ids.rows);
  for (const Corners& b : boxes) {
    const cv::Rect r = cv::Rect(cv::Point(static_cast<int>(std::floor(b.x0)), static_cast<int>(std::floor(b.y0))),
                                cv::Point(static_cast<int>(std::ceil(b.x1)), static_cast<int>(std::ceil(b.y1)))) &
                       map;
    if (r.empty() || holdsAnInstance(ids, r, area, settings.thingFound)) continue;
    cv::Mat free = ids(r) == 0;
    if (!person.empty()) free &= person(r) < settings.personLevel;
    if (cv::countNonZero(free) < minArea) continue;
    ids(r).setTo(next++, free);
  }
  return next;
}

// Keeps the 255 largest ids and numbers them 1..255 in raster order of first
// appearance; `label` gets each id's number (0 when dropped).
InstanceObservation renumber(const cv::Mat& ids, int count, std::vector<uint8_t>& label) {
  std::vector<int64_t> area(static_cast<size_t>(count) + 1, 0);
  for (int y = 0; y < ids.rows; ++y) {
    const int* p = ids.ptr<int>(y);
    for (int x = 0; x < ids.cols; ++x) ++area[static_cast<size_t>(p[x])];
  }
  std::vector<int> order;
  for (int i = 1; i <= count; ++i)
    if (area[static_cast<size_t>(i)] > 0) order.push_back(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return area[static_cast<size_t>(a)] > area[static_cast<size_t>(b)]; });
  if (order.size() > 255) order.resize(255);
  std::vector<bool> keep(area.size(), false);
  for (int i : order) keep[static_cast<size_t>(i)] = true;

  InstanceObservation map;
  map.width = ids.cols;
  map.height = ids.rows;
  map.stride = ids.cols;
  map.labels.assign(static_cast<size_t>(ids.cols) * static_cast<size_t>(ids.rows), 0);
  label.assign(area.size(), 0);
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

cv::Mat lookUp(const cv::Mat& labels, const bool (&wanted)[256]) {
  cv::Mat lut(1, 256, CV_8U);
  for (int i = 0; i < 256; ++i) lut.at<uint8_t>(i) = wanted[i] ? 255 : 0;
  cv::Mat out;
  cv::LUT(labels, lut, out);
  return out;
}

// Raises `out` to `soft` (scaled to out's size) on the pixels whose nearest
// map pixel lies in `region`.
void addSoft(const cv::Mat& soft, const cv::Mat& region, cv::Mat& out) {
  // Linear scaling keeps the soft map's edges; the nearest region keeps
  // everything outside the chosen instances at zero. Bytes scale fastest.
  cv::Mat bytes = soft, up, regionUp;
  if (soft.type() != CV_8U) soft.convertTo(bytes, CV_8U, 255.0);
  cv::resize(bytes, up, out.size(), 0, 0, cv::INTER_LINEAR);
  cv::resize(region, regionUp, out.size(), 0, 0, cv::INTER_NEAREST_EXACT);
  up.setTo(0, regionUp == 0);
  cv::max(out, up, out);
}

}  // namespace

int minimumArea(const cv::Size& size, const InstanceSettings& settings) {
  const double area = static_cast<double>(size.area()) * settings.minShare;
  return std::max(1, static_cast<int>(std::ceil(area)));
}

InstanceMap labelInstances(const cv::Mat& salient, const cv::Mat& person, const std::vector<Corners>& personBoxes,
                           const std::vector<Corners>& thingBoxes, const InstanceSettings& settings) {
  CV_Assert(salient.empty() || salient.type() == CV_32F);
  CV_Assert(person.empty() || person.type() == CV_8U);
  CV_Assert(salient.empty() || person.empty() || salient.size() == person.size());
  const cv::Size size = salient.empty() ? person.size() : salient.size();
  const int minArea = minimumArea(size, settings);

  cv::Mat ids = cv::Mat::zeros(size, CV_32S);
  int next = 1;
  if (!person.empty())
    next = splitPeople(person >= settings.personLevel, personBoxes, {minArea, settings.boxFill}, ids, next);
  const int firstObject = next;
  if (!salient.empty()) next = labelObjects(salient, person, settings, minArea, ids, next);
  const int firstThing = next;
  next = labelThings(thingBoxes, person, settings, minArea, ids, next);

  InstanceMap map;
  std::vector<uint8_t> label;
  map.observation = renumber(ids, next - 1, label);
  for (int id = 1; id < next; ++id) {
    const uint8_t l = label[static_cast<size_t>(id)];
    if (l && id < firstObject) map.people.push_back(l);
    if (l && id >= firstThing) map.things.push_back(l);
  }
  std::sort(map.people.begin(), map.people.end());
  std::sort(map.things.begin(), map.things.end());
  return map;
}

Matte scaledChosenMask(const SoftMaps& soft, const InstanceMap& map, const std::vector<uint8_t>& chosen,
                       int width, int height, const InstanceSettings& settings) {
  Matte out;
  out.width = width;
  out.height = height;
  out.pixels.assign(static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0)), 0);
  const InstanceObservation& o = map.observation;
  if (width <= 0 || height <= 0 || o.labels.empty()) return out;

  bool present[256] = {}, chosenPerson[256] = {}, chosenObject[256] = {}, chosenThing[256] = {}, notChosen[256] = {};
  for (uint8_t l : o.allInstances) present[l] = notChosen[l] = true;
  bool isPerson[256] = {}, isThing[256] = {};
  for (uint8_t l : map.people) isPerson[l] = true;
  for (uint8_t l : map.things) isThing[l] = true;
  bool anyPerson = false, anyObject = false, anyThing = false;
  for (uint8_t c : chosen) {
    if (c == 0 || !present[c]) continue;
    notChosen[c] = false;
    (isPerson[c] ? chosenPerson[c] : isThing[c] ? chosenThing[c] : chosenObject[c]) = true;
    (isPerson[c] ? anyPerson : isThing[c] ? anyThing : anyObject) = true;
  }
  if (!anyPerson && !anyObject && !anyThing) return out;

  const cv::Mat labels = labelView(o);
  const cv::Mat others = lookUp(labels, notChosen);
  cv::Mat bytes(height, width, CV_8U, out.pixels.data());
  auto add = [&](const bool (&wanted)[256], const cv::Mat& map) {
    if (map.empty()) return;
    cv::Mat region;
    cv::dilate(lookUp(labels, wanted), region, disc(settings.rimRadius));
    region.setTo(0, others);
    addSoft(map, region, bytes);
  };
  if (anyPerson) add(chosenPerson, soft.person);
  if (anyObject) add(chosenObject, soft.salient);
  // A thing's box shows where it is, not how much of it is there: its part
  // of the box counts whole.
  if (anyThing) add(chosenThing, lookUp(labels, chosenThing));
  return out;
}

}  // namespace kestrel::vision::dnn
