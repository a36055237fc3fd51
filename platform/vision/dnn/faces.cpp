// Faces: BlazeFace finds them (the whole picture, then closer views so that
// small faces are seen: the heads of the people found in the picture, or
// tiles of a large picture where no one is found; in a stream, only where the
// whole picture shows no face), the face mesh confirms each one and gives the head's
// angles, and the iris model gives each eye's contour and pupil. A stream
// follows each face from frame to frame by its mesh, as MediaPipe's face-mesh
// pipeline does, and runs BlazeFace only to find new faces.
#include "platform/vision/dnn/faces.h"

#include <algorithm>
#include <cmath>

#include "platform/vision/dnn/blazeface.h"
#include "platform/vision/dnn/face_geometry.h"
#include "platform/vision/dnn/vision_model.h"
#include "platform/vision/dnn/service_coordinates.h"
#include "platform/vision/dnn/ssd_decoding.h"
#include "platform/vision/dnn/slow_analyses.h"

namespace kestrel::vision::dnn {
namespace {

constexpr float kDetectionThreshold = 0.5f;
constexpr double kMergeOverlap = 0.3;
// The tile pass sees the picture at 0.35 model pixels per picture pixel: a
// face 40 pixels high is 14 model pixels, about the smallest BlazeFace finds
// (a full HD frame takes 3 x 2 tiles).
constexpr double kTileScale = 0.35;
constexpr double kTileOverlap = 32 / kTileScale;
constexpr double kHeadInView = 64;  // model pixels
// A head region under 48 picture pixels holds a face under 12, too small for
// the detector and the mesh even at full resolution: a crowd's far people get
// no window.
constexpr double kSmallestHead = 48;
constexpr int kMeshSize = 192;
constexpr double kMeshCrop = 1.5;       // crop side / detector box side
constexpr float kMeshPresence = 0.5f;   // below: not a face after all
constexpr int kIrisSize = 64;
constexpr double kEyeCrop = 2.3;        // crop side / eye corner distance
constexpr int kEyeContour = 16;         // the eyelid contour leads the iris model's 71 eye points
constexpr int kIrisCentre = 71;         // then the iris: centre first
constexpr int kIrisOutputs = 76 * 3;

// BlazeFace reads RGB in -1..1, channels last; its scores and boxes come in
// two outputs each, the fine grid's 512 anchors and the coarse grid's 384.
const VisionModel kDetector{"blazeface_back_256.onnx",
                          {{{1, kBlazefaceSize, kBlazefaceSize, 3}},
                           {{"Identity:0", {1, 512, 1}},
                            {"Identity_1:0", {1, 384, 1}},
                            {"Identity_2:0", {1, 512, 16}},
                            {"Identity_3:0", {1, 384, 16}}}},
                          "model blazeface",
                          {1.0f / 127.5f, -1.0f, true}};
const VisionModel kMesh{"facemesh.onnx",
                      {{{1, 3, kMeshSize, kMeshSize}}, {{"mesh", {1, kMeshPoints * 3}}, {"presence", {1, 1}}}},
                      "model facemesh",
                      {}};
const VisionModel kIris{"iris.onnx", {{{1, 3, kIrisSize, kIrisSize}}, {{"iris", {1, kIrisOutputs, 1, 1}}}}, "model iris", {}};

// One detector run on a 256x256 square input; `placement` maps it to the picture.
std::vector<FaceDetection> runDetector(const cv::Mat& square, const InputPlacement& placement) {
  engine::Network& net = network(kDetector);
  run(kDetector, net, square);
  std::vector<float> logits(net.output("Identity:0"), net.output("Identity:0") + 512);
  logits.insert(logits.end(), net.output("Identity_1:0"), net.output("Identity_1:0") + 384);
  std::vector<float> regressors(net.output("Identity_2:0"), net.output("Identity_2:0") + 512 * 16);
  regressors.insert(regressors.end(), net.output("Identity_3:0"), net.output("Identity_3:0") + 384 * 16);
  return decodeSsd<6>(logits.data(), regressors.data(), blazefaceAnchors(), kBlazefaceSize, placement,
                      kDetectionThreshold);
}

// The faces a square part of the picture shows whole: one cut by an edge of
// the square inside the picture is seen whole by another pass.
std::vector<FaceDetection> squarePass(ModelImage& image, const Tile& t) {
  const cv::Rect area(static_cast<int>(std::lround(t.x)), static_cast<int>(std::lround(t.y)),
                      static_cast<int>(std::lround(t.side)), static_cast<int>(std::lround(t.side)));
  const double scale = static_cast<double>(area.width) / kBlazefaceSize;  // picture pixels per input pixel
  const double margin = 2 * scale;
  const double left = area.x, top = area.y, right = area.x + area.width, bottom = area.y + area.height;
  std::vector<FaceDetection> whole;
  for (const FaceDetection& d : runDetector(image.square(area, kBlazefaceSize), {scale, scale, left, top})) {
    const bool cut = (left > 0 && d.x < left + margin) || (top > 0 && d.y < top + margin) ||
                     (right < image.cols() && d.x + d.width > right - margin) ||
                     (bottom < image.rows() && d.y + d.height > bottom - margin);
    if (!cut) whole.push_back(d);
  }
  return whole;
}

// The whole picture, letterboxed; `scale` is its picture pixels per model
// pixel, taken across (letterboxing keeps the shape).
std::vector<FaceDetection> wholeView(ModelImage& image, double& scale) {
  const Letterbox box = Letterbox::fit(image.cols(), image.rows(), kBlazefaceSize);
  scale = static_cast<double>(image.cols()) / box.innerWidth;
  return runDetector(image.letterbox(box), {scale, scale, -box.offsetX * scale, -box.offsetY * scale});
}

// The closer views, for a picture the whole view showed at `scale`.
std::vector<FaceDetection> closerViews(ModelImage& image, const std::vector<Corners>* people, double scale) {
  std::vector<FaceDetection> found;
  // Where people are, faces are looked for at their heads; the blind tiles
  // are for a picture with no one the detector sees, where a face may still
  // show without a body (a head over a table, or pasted on a photo).
  if (!people || people->empty()) {
    for (const Tile& t : tilesFor(image.cols(), image.rows(), kBlazefaceSize / kTileScale, kTileOverlap)) {
      const std::vector<FaceDetection> more = squarePass(image, t);
      found.insert(found.end(), more.begin(), more.end());
    }
    return found;
  }
  // A head region of 64 model pixels holds a face of about 17 (a standing
  // person's face is about a quarter of the region's side), which the
  // detector finds: a head the whole picture shows that large needs no closer
  // look, a smaller one is seen at the coarsest scale that shows it so. A
  // window sees more than heads; what it finds elsewhere is not taken (weak
  // person peaks put windows over dogs and bicycles).
  auto inAHead = [&](const FaceDetection& d) {
    const double x = d.x + d.width / 2, y = d.y + d.height / 2;
    return std::any_of(people->begin(), people->end(), [&](const Corners& p) {
      const Tile r = headRegion(p);
      return x >= r.x && x < r.x + r.side && y >= r.y && y < r.y + r.side;
    });
  };
  for (const Tile& t : headWindows(*people, image.cols(), image.rows(), kBlazefaceSize, kHeadInView,
                                   kSmallestHead, kHeadInView * scale))
    for (const FaceDetection& d : squarePass(image, t))
      if (inAHead(d)) found.push_back(d);
  return found;
}

// The mesh of a face in a crop, in picture pixels, or nothing when the mesh
// model says there is no face there.
std::optional<std::vector<MeshPoint>> meshIn(ModelImage& image, const RotatedCrop& crop) {
  const CropTransform t = cropTransform(crop, kMeshSize);
  engine::Network& net = network(kMesh);
  run(kMesh, net, image.affineCrop(t.warp(), kMeshSize));
  if (!(net.output("presence")[0] >= kMeshPresence)) return std::nullopt;
  const float* m = net.output("mesh");
  const double zScale = t.pictureScale();
  std::vector<MeshPoint> mesh(kMeshPoints);
  for (int i = 0; i < kMeshPoints; ++i) {
    const PixelPoint p = t.toPicture({m[3 * i], m[3 * i + 1]});
    mesh[i] = {p.x, p.y, m[3 * i + 2] * zScale};
  }
  return mesh;
}

// The crop the mesh reads for a detected face.
RotatedCrop detectionCrop(const FaceDetection& d) {
  const PixelPoint centre{d.x + d.width / 2, d.y + d.height / 2};
  return {centre, std::max(d.width, d.height) * kMeshCrop, lineAngle(d.keypoints[0], d.keypoints[1])};
}

struct Eye {
  std::vector<PixelPoint> contour;
  PixelPoint pupil;
};

// Each eye through the iris model, which knows right eyes only: the person's
// left eye is read mirrored.
std::array<Eye, 2> eyes(ModelImage& image, const std::vector<MeshPoint>& mesh) {
  auto at = [&](int i) { return PixelPoint{mesh[i].x, mesh[i].y}; };
  const std::array<std::pair<int, int>, 2> corners{{{kMeshRightEyeOuter, kMeshRightEyeInner},
                                                    {kMeshLeftEyeInner, kMeshLeftEyeOuter}}};
  engine::Network& net = network(kIris);
  std::array<Eye, 2> result;
  for (int e = 0; e < 2; ++e) {
    const PixelPoint a = at(corners[e].first), b = at(corners[e].second);
    const PixelPoint centre{(a.x + b.x) / 2, (a.y + b.y) / 2};
    const double side = std::max(kEyeCrop * std::hypot(b.x - a.x, b.y - a.y), 1.0);
    const CropTransform t = cropTransform({centre, side, lineAngle(a, b), e == 1}, kIrisSize);
    run(kIris, net, image.affineCrop(t.warp(), kIrisSize));
    const float* o = net.output("iris");
    for (int k = 0; k < kEyeContour; ++k) result[e].contour.push_back(t.toPicture({o[3 * k], o[3 * k + 1]}));
    result[e].pupil = t.toPicture({o[3 * kIrisCentre], o[3 * kIrisCentre + 1]});
  }
  return result;
}

}  // namespace

void prepareFaces(bool landmarks) {
  loadSoon(kDetector);
  loadSoon(kMesh);
  if (landmarks) loadSoon(kIris);
}

namespace {

// A face the mesh confirmed: its box in picture pixels, its score and its mesh.
struct SeenFace {
  double x = 0, y = 0, width = 0, height = 0;
  float score = 0;
  std::vector<MeshPoint> mesh;
  Corners box() const { return {x, y, x + width, y + height}; }
};

SeenFace seenFace(const Corners& box, float score, std::vector<MeshPoint> mesh) {
  return {box.x0, box.y0, box.x1 - box.x0, box.y1 - box.y0, score, std::move(mesh)};
}

// The detections the face mesh confirms, with their meshes.
std::vector<SeenFace> confirmed(ModelImage& image, const std::vector<FaceDetection>& detections) {
  std::vector<SeenFace> seen;
  for (const FaceDetection& d : detections)
    if (auto mesh = meshIn(image, detectionCrop(d))) seen.push_back({d.x, d.y, d.width, d.height, d.score, std::move(*mesh)});
  return seen;
}

// The faces with their angles and, if asked, eyes.
Faces describe(ModelImage& image, bool landmarks, const std::vector<SeenFace>& seen) {
  Faces out;
  for (const SeenFace& s : seen) {
    FaceObservation face;
    face.boundingBox = normalisedRect(s.box(), image.cols(), image.rows());
    face.confidence = s.score;
    if (const auto angles = headAngles(s.mesh)) {
      face.yaw = angles->yaw;
      face.pitch = angles->pitch;
    }
    out.faces.push_back(face);
    if (!landmarks) continue;
    LandmarksObservation l;
    l.boundingBox = face.boundingBox;
    const auto [right, left] = eyes(image, s.mesh);
    auto inBox = [&](const std::vector<PixelPoint>& points) {
      std::vector<Point> n;
      for (const auto& p : points) n.push_back(normalisedInBox(p, s.x, s.y, s.width, s.height));
      return n;
    };
    FaceLandmarks f;
    f.leftEye = inBox(left.contour);
    f.leftPupil = inBox({left.pupil});
    f.rightEye = inBox(right.contour);
    f.rightPupil = inBox({right.pupil});
    l.landmarks = std::move(f);
    out.landmarks.push_back(std::move(l));
  }
  return out;
}

bool overlapsATrack(const Corners& box, const std::vector<FaceTrack>& tracks) {
  return std::any_of(tracks.begin(), tracks.end(),
                     [&](const FaceTrack& t) { return intersectionOverUnion(box, t.box) > kMergeOverlap; });
}

// The faces of a stream's frame that its tracks do not hold: the whole
// picture, and when `closer` the closer views where it shows no face (a live
// stream's subject is near the camera, and its smaller faces further off are
// not asked for, so that its frames skip the tiles).
std::vector<SeenFace> newFaces(ModelImage& image, const std::vector<Corners>* people,
                               const std::vector<FaceTrack>& tracks, bool closer) {
  double scale = 1;
  std::vector<FaceDetection> whole = mergeOverlaps(wholeView(image, scale), kMergeOverlap);
  std::erase_if(whole, [&](const FaceDetection& d) { return overlapsATrack(boxOf(d), tracks); });
  std::vector<SeenFace> seen = confirmed(image, whole);
  if (!seen.empty() || !tracks.empty() || !closer) return seen;
  return confirmed(image, mergeOverlaps(closerViews(image, people, scale), kMergeOverlap));
}

}  // namespace

Faces analyseFaces(ModelImage& image, bool landmarks, const std::vector<Corners>* people) {
  double scale = 1;
  std::vector<FaceDetection> found = wholeView(image, scale);
  const std::vector<FaceDetection> closer = closerViews(image, people, scale);
  found.insert(found.end(), closer.begin(), closer.end());
  return describe(image, landmarks, confirmed(image, mergeOverlaps(std::move(found), kMergeOverlap)));
}

Faces followFaces(ModelImage& image, bool landmarks, const std::vector<Corners>* people, SlowAnalyses& kept) {
  std::vector<FaceTrack> tracks;
  std::vector<SeenFace> seen;
  bool lost = false;
  if (justBefore(kept, kept.facesFrame))
    for (const FaceTrack& t : kept.faceTracks) {
      auto mesh = meshIn(image, t.crop);
      lost = lost || !mesh;
      if (!mesh) continue;
      FaceTrack moved = followTrack(t, *mesh);
      // Two tracks that came onto one face are one.
      if (overlapsATrack(moved.box, tracks)) continue;
      seen.push_back(seenFace(moved.box, moved.score, std::move(*mesh)));
      tracks.push_back(std::move(moved));
    }
  if (const FaceSearch search = faceSearch(kept, tracks.size(), lost); search != FaceSearch::None) {
    // A face the detector sees again starts its track anew from the
    // detector's box, so that the followed box cannot drift away from it.
    std::vector<SeenFace> found = newFaces(image, people, {}, search == FaceSearch::Everywhere);
    std::vector<FaceTrack> held;
    std::vector<SeenFace> heldSeen;
    for (size_t k = 0; k < tracks.size(); ++k)
      if (std::none_of(found.begin(), found.end(), [&](const SeenFace& f) {
            return intersectionOverUnion(f.box(), tracks[k].box) > kMergeOverlap;
          })) {
        held.push_back(std::move(tracks[k]));
        heldSeen.push_back(std::move(seen[k]));
      }
    for (SeenFace& f : found) {
      held.push_back(startTrack(f.box(), f.score, f.mesh));
      heldSeen.push_back(std::move(f));
    }
    tracks = std::move(held);
    seen = std::move(heldSeen);
  }
  kept.faceTracks = std::move(tracks);
  kept.facesFrame = kept.frame;
  return describe(image, landmarks, seen);
}

}  // namespace kestrel::vision::dnn
