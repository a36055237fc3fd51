// Hands: MediaPipe's palm detector finds palms in the letterboxed picture; the
// landmark model then places 21 joints in a rotated crop around each palm.
// Joint order: wrist; thumb CMC, MCP, IP, tip; then index, middle, ring and
// little finger, each MCP, PIP, DIP, tip. The landmark model gives no
// per-joint confidence: joints inside the picture carry the hand's presence
// score (0.5 or more for a kept hand) and joints outside it 0, so a caller's
// cut at 0.3 keeps exactly the joints that lie in the picture.
#include "platform/vision/dnn/hand_geometry.h"
#include "platform/vision/dnn/model_files.h"
#include "platform/vision/dnn/model_input.h"
#include "platform/vision/dnn/modules.h"
#include "platform/vision/dnn/slow_analyses.h"
#include "platform/vision/dnn/stage_times.h"

namespace kestrel::vision::dnn {
namespace {

// MediaPipe's own settings: palms at 0.5, merged at IoU 0.3, hands kept when
// the landmark model's presence reaches 0.5.
constexpr float kMinPalmScore = 0.5f;
constexpr double kPalmOverlap = 0.3;
constexpr float kMinPresence = 0.5f;

ModelContract palmContract() {
  const int64_t count = static_cast<int64_t>(palmAnchors().size());
  return {{{1, 3, kPalmInput, kPalmInput}}, {{"Identity", {1, count, 18}}, {"Identity_1", {1, count, 1}}}};
}
const ModelContract LANDMARK_CONTRACT{{{1, 3, kHandInput, kHandInput}}, {{"Identity", {1, 63}}, {"Identity_1", {1, 1}}}};

std::vector<Palm> detectPalms(ModelImage& image, size_t limit) {
  static const std::vector<PixelPoint> anchors = palmAnchors();
  engine::Network& net = loadModel("palm_detection_full.onnx", palmContract());
  const Letterbox box = Letterbox::fit(image.cols(), image.rows(), kPalmInput);
  writeRgbPlanes(image.letterbox(box), 1.0f / 255, 0, net.input());
  {
    const StageTimer timer("model palm");
    net.run();
  }
  std::vector<Palm> palms =
      mergeOverlaps(decodePalms(net.output("Identity"), net.output("Identity_1"), anchors, kMinPalmScore),
                 kPalmOverlap, limit);
  for (Palm& p : palms) p = palmInPicture(p, box);
  return palms;
}

}  // namespace

void prepareHands() {
  loadModelSoon("palm_detection_full.onnx", palmContract());
  loadModelSoon("hand_landmark_full.onnx", LANDMARK_CONTRACT);
}

std::vector<HandObservation> detectHands(ModelImage& image, int maximumHandCount, SlowAnalyses* kept) {
  std::vector<HandObservation> hands;
  if (maximumHandCount <= 0) return hands;
  engine::Network& net = loadModel("hand_landmark_full.onnx", LANDMARK_CONTRACT);
  std::vector<RotatedCrop> crops;
  const bool followed = kept && kept->handsFrame == kept->frame - 1 && !kept->handCrops.empty();
  if (!madeAnew(kept, followed, PALMS_TURN))
    crops = kept->handCrops;
  else
    for (const Palm& palm : detectPalms(image, static_cast<size_t>(maximumHandCount))) crops.push_back(handCrop(palm));
  std::vector<RotatedCrop> next;
  for (const RotatedCrop& crop : crops) {
    if (!(crop.side > 1)) continue;
    writeRgbPlanes(image.affineCrop(cropTransform(crop, kHandInput).warpAtPixelCentres(), kHandInput), 1.0f / 255, 0, net.input());
    {
      const StageTimer timer("model hand landmarks");
      net.run();
    }
    const float presence = net.output("Identity_1")[0];
    if (!(presence >= kMinPresence)) continue;
    HandObservation hand;
    hand.confidence = presence;
    const std::array<PixelPoint, kHandJoints> points = jointPixels(net.output("Identity"), crop, kHandInput);
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
