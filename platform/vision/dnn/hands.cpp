// Hands: MediaPipe's palm detector finds palms in the letterboxed picture; the
// landmark model then places 21 joints in a rotated crop around each palm.
// Joint order: wrist; thumb CMC, MCP, IP, tip; then index, middle, ring and
// little finger, each MCP, PIP, DIP, tip. The landmark model gives no
// per-joint confidence: joints inside the picture carry the hand's presence
// score (0.5 or more for a kept hand) and joints outside it 0, so a caller's
// cut at 0.3 keeps exactly the joints that lie in the picture.
#include "platform/vision/dnn/hands.h"

#include "platform/vision/dnn/hand_geometry.h"
#include "platform/vision/dnn/vision_model.h"
#include "platform/vision/dnn/ssd_decoding.h"

namespace kestrel::vision::dnn {
namespace {

// MediaPipe's own settings: palms at 0.5, merged at IoU 0.3, hands kept when
// the landmark model's presence reaches 0.5.
constexpr float kMinPalmScore = 0.5f;
constexpr double kPalmOverlap = 0.3;
constexpr float kMinPresence = 0.5f;

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

std::vector<Palm> detectPalms(ModelImage& image, size_t limit) {
  const VisionModel& model = palmModel();
  engine::Network& net = network(model);
  const Letterbox box = Letterbox::fit(image.cols(), image.rows(), kPalmInput);
  run(model, net, image.letterbox(box));
  return mergeOverlaps(decodeSsd<7>(net.output("Identity_1"), net.output("Identity"), anchors(), kPalmInput,
                                    placementOf(box), kMinPalmScore),
                       kPalmOverlap, limit);
}

}  // namespace

void prepareHands() {
  loadSoon(palmModel());
  loadSoon(kLandmarks);
}

std::vector<HandObservation> detectHands(ModelImage& image, int maximumHandCount, SlowAnalyses* kept) {
  std::vector<HandObservation> hands;
  if (maximumHandCount <= 0) return hands;
  engine::Network& net = network(kLandmarks);
  std::vector<RotatedCrop> crops;
  const bool followed = kept && kept->handsFrame == kept->frame - 1 && !kept->handCrops.empty();
  if (!madeAnew(kept, followed, kPalmsTurn))
    crops = kept->handCrops;
  else
    for (const Palm& palm : detectPalms(image, static_cast<size_t>(maximumHandCount))) crops.push_back(handCrop(palm));
  std::vector<RotatedCrop> next;
  for (const RotatedCrop& crop : crops) {
    if (!(crop.side > 1)) continue;
    run(kLandmarks, net, image.affineCrop(cropTransform(crop, kHandInput).warpAtPixelCentres(), kHandInput));
    const float presence = net.output("Identity_1")[0];
    if (!(presence >= kMinPresence)) continue;
    HandObservation hand;
    hand.confidence = presence;
    const std::array<PixelPoint, kHandJoints> points = jointsInPicture(net.output("Identity"), crop, kHandInput);
    hand.joints = handJoints(points, image.cols(), image.rows(), presence);
    hands.push_back(std::move(hand));
    next.push_back(trackedCrop(points));
  }
  if (kept) {
    kept->handCrops = std::move(next);
    kept->handsFrame = kept->frame;
  }
  return hands;
}

}  // namespace kestrel::vision::dnn
