// Hands: MediaPipe's palm detector finds palms in the letterboxed picture; the
// landmark model then places 21 joints in a rotated crop around each palm.
// Where people were found, windows over their arms' reach show the palms of
// people at room distance large enough for the detector (hand_windows.h).
// Joint order: wrist; thumb CMC, MCP, IP, tip; then index, middle, ring and
// little finger, each MCP, PIP, DIP, tip. The landmark model gives no
// per-joint confidence: joints inside the picture carry the hand's presence
// score (0.5 or more for a kept hand) and joints outside it 0, so a caller's
// cut at 0.3 keeps exactly the joints that lie in the picture.
#include "platform/vision/dnn/hands.h"

#include <algorithm>

#include "platform/vision/dnn/hand_geometry.h"
#include "platform/vision/dnn/hand_windows.h"
#include "platform/vision/dnn/vision_model.h"
#include "platform/vision/dnn/ssd_decoding.h"

namespace kestrel::vision::dnn {
namespace {

// MediaPipe's own settings: palms at 0.5, merged at IoU 0.3, hands kept when
// the landmark model's presence reaches 0.5.
constexpr float kMinPalmScore = 0.5f;
constexpr double kPalmOverlap = 0.3;
constexpr float kMinPresence = 0.5f;
// The windows find more palms the landmark model turns down: a few more
// candidates than hands asked for are kept where they look.
constexpr size_t kSpareCandidates = 2;
// Below this the landmark model sees no hand at all; from it, a searched
// palm's hand gets more looks, each at the crop the look before's joints
// give, until one is sure. A small, dim hand's presence wavers from look to
// look (on the sofa photo of tests/vision_objects/hands 0.28, 0.45, 0.26,
// then 0.57), so one more look is not enough; but a shoulder in Debian's
// street clip also rises to a hand on its fourth look (0.26, 0.38, 0.40, 0.61).
constexpr float kSecondLookFrom = 0.1f;
constexpr int kMoreLooks = 3;
// Two palms whose hands' joints overlap this much are one hand seen twice.
constexpr double kSameHand = 0.5;

const std::vector<PixelPoint>& anchors() {
  static const std::vector<PixelPoint> all = palmAnchors();
  return all;
}

const VisionModel& palmModel() {
  static const int64_t rows = static_cast<int64_t>(anchors().size());
  static const VisionModel model{"palm_detection_full.onnx",
                              {{{1, 3, kPalmInput, kPalmInput}}, {{"Identity", {1, rows, 18}}, {"Identity_1", {1, rows, 1}}}},
                              "model palm",
                              {}};
  return model;
}

const VisionModel kLandmarks{"hand_landmark_full.onnx",
                           {{{1, 3, kHandInput, kHandInput}}, {{"Identity", {1, 63}}, {"Identity_1", {1, 1}}}},
                           "model hand landmarks",
                           {}};

// One detector run on a square input; `placement` maps it to the picture.
std::vector<Palm> runDetector(const cv::Mat& square, const InputPlacement& placement) {
  const VisionModel& model = palmModel();
  engine::Network& net = network(model);
  run(model, net, square);
  return decodeSsd<7>(net.output("Identity_1"), net.output("Identity"), anchors(), kPalmInput, placement,
                      kMinPalmScore);
}

// The palms a window shows whole that lie in a person's reach: one cut by
// the window's edge inside the picture lies whole in its neighbour.
std::vector<Palm> windowPass(ModelImage& image, const Tile& t, const std::vector<Corners>& people) {
  const cv::Rect area(static_cast<int>(t.x), static_cast<int>(t.y), static_cast<int>(t.side),
                      static_cast<int>(t.side));
  const double scale = static_cast<double>(area.width) / kPalmInput;
  const double left = area.x, top = area.y, right = area.x + area.width, bottom = area.y + area.height;
  std::vector<Palm> kept;
  for (const Palm& p : runDetector(image.square(area, kPalmInput), {scale, scale, left, top})) {
    const bool cut = (left > 0 && p.x < left) || (top > 0 && p.y < top) ||
                     (right < image.cols() && p.x + p.width > right) ||
                     (bottom < image.rows() && p.y + p.height > bottom);
    if (!cut && inReach(people, {p.x + p.width / 2, p.y + p.height / 2})) kept.push_back(p);
  }
  return kept;
}

// The windows a search looks through. In a stream, whose subject is near
// the camera, only where the whole picture shows no palm, and one window a
// search in turn: the detector then costs at most two runs a search, and a
// hand at room distance is found within as many searches as there are
// windows, then followed from its joints.
std::vector<Tile> windowsToSearch(const std::vector<Corners>& people, const ModelImage& image, SlowAnalyses* kept,
                                  bool wholeFoundPalms) {
  std::vector<Tile> windows = handWindows(people, image.cols(), image.rows(), kPalmInput);
  if (!kept || windows.empty()) return windows;
  if (wholeFoundPalms) return {};
  return {windows[kept->handWindowTurn++ % windows.size()]};
}

// The whole picture letterboxed, then the windows over the people's reach;
// the strongest `limit` after merging the same palm seen twice.
std::vector<Palm> detectPalms(ModelImage& image, size_t limit, const std::vector<Corners>* people,
                              SlowAnalyses* kept) {
  const Letterbox box = Letterbox::fit(image.cols(), image.rows(), kPalmInput);
  std::vector<Palm> found = runDetector(image.letterbox(box), placementOf(box));
  if (people) {
    for (const Tile& t : windowsToSearch(*people, image, kept, !found.empty())) {
      const std::vector<Palm> more = windowPass(image, t, *people);
      found.insert(found.end(), more.begin(), more.end());
    }
  }
  return mergeOverlaps(std::move(found), kPalmOverlap, limit);
}

// What the landmark model sees in a crop: its presence score and the joints
// in picture pixels.
struct Look {
  float presence = 0;
  std::array<PixelPoint, kHandJoints> points;
};
Look lookAt(ModelImage& image, engine::Network& net, const RotatedCrop& crop) {
  run(kLandmarks, net, image.affineCrop(cropTransform(crop, kHandInput).warpAtPixelCentres(), kHandInput));
  const float presence = net.output("Identity_1")[0];
  return {presence, jointsInPicture(net.output("Identity"), crop, kHandInput)};
}

// The joints' box, for telling one hand found from two palms apart.
Corners jointsBox(const std::array<PixelPoint, kHandJoints>& points) {
  Corners b{points[0].x, points[0].y, points[0].x, points[0].y};
  for (const PixelPoint& p : points)
    b = {std::min(b.x0, p.x), std::min(b.y0, p.y), std::max(b.x1, p.x), std::max(b.y1, p.y)};
  return b;
}

}  // namespace

void prepareHands(LoadTurn turn) {
  loadSoon(palmModel(), turn);
  loadSoon(kLandmarks, turn);
}

std::vector<HandObservation> detectHands(ModelImage& image, int maximumHandCount, SlowAnalyses* kept,
                                         const std::vector<Corners>* people) {
  std::vector<HandObservation> hands;
  if (maximumHandCount <= 0) return hands;
  engine::Network& net = network(kLandmarks);
  bool searched = false;
  const std::vector<RotatedCrop> crops = handCropsFor(kept, [&] {
    searched = true;
    std::vector<RotatedCrop> around;
    for (const Palm& palm :
         detectPalms(image, static_cast<size_t>(maximumHandCount) + (people ? kSpareCandidates : 0), people, kept))
      around.push_back(handCrop(palm));
    return around;
  });
  std::vector<RotatedCrop> next;
  std::vector<Corners> boxes;
  for (const RotatedCrop& crop : crops) {
    if (hands.size() == static_cast<size_t>(maximumHandCount)) break;
    if (!(crop.side > 1)) continue;
    Look look = lookAt(image, net, crop);
    // A small hand's palm crop is coarse: the crop its joints give is looked
    // at again, as the next frames of a stream would.
    for (int again = 0; again < kMoreLooks && searched && people && look.presence >= kSecondLookFrom &&
                        !(look.presence >= kMinPresence);
         ++again)
      look = lookAt(image, net, trackedCrop(look.points));
    if (!(look.presence >= kMinPresence)) continue;
    const Corners box = jointsBox(look.points);
    if (std::any_of(boxes.begin(), boxes.end(),
                    [&](const Corners& b) { return intersectionOverUnion(b, box) > kSameHand; }))
      continue;
    boxes.push_back(box);
    HandObservation hand;
    hand.confidence = look.presence;
    hand.joints = handJoints(look.points, image.cols(), image.rows(), look.presence);
    hands.push_back(std::move(hand));
    next.push_back(trackedCrop(look.points));
  }
  keepHandCrops(kept, std::move(next));
  return hands;
}

}  // namespace kestrel::vision::dnn
