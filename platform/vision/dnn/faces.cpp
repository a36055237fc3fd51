// Faces: BlazeFace finds them (the whole picture, then overlapping tiles at
// a finer scale so that small faces in large pictures are seen), the face
// mesh confirms each one and gives the head's angles, and the iris model
// gives each eye's contour and pupil.
#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <opencv2/imgproc.hpp>

#include "platform/vision/dnn/blazeface.h"
#include "platform/vision/dnn/face_geometry.h"
#include "platform/vision/dnn/model_files.h"
#include "platform/vision/dnn/model_input.h"
#include "platform/vision/dnn/modules.h"

namespace kestrel::vision::dnn {
namespace {

constexpr const char* DETECTOR = "blazeface_back_256.onnx";
constexpr const char* MESH = "facemesh.onnx";
constexpr const char* IRIS = "iris.onnx";

constexpr float DETECTION_THRESHOLD = 0.5f;
constexpr double MERGE_IOU = 0.3;
// The tile pass sees the picture at 0.35 model pixels per picture pixel: a
// face 40 pixels high is 14 model pixels, about the smallest BlazeFace finds
// (a full HD frame takes 3 x 2 tiles).
constexpr double TILE_SCALE = 0.35;
constexpr double TILE_OVERLAP = 32 / TILE_SCALE;
constexpr int MESH_SIZE = 192;
constexpr double MESH_CROP = 1.5;       // crop side / detector box side
constexpr float MESH_PRESENCE = 0.5f;   // below: not a face after all
constexpr int IRIS_SIZE = 64;
constexpr double EYE_CROP = 2.3;        // crop side / eye corner distance
constexpr int EYE_CONTOUR = 16;         // the eyelid contour leads the iris model's 71 eye points
constexpr int IRIS_CENTRE = 71;         // then the iris: centre first
constexpr int IRIS_OUTPUTS = 76 * 3;

cv::Mat affine(const CropTransform& t) {
  return (cv::Mat_<double>(2, 3) << t.a, t.b, t.tx, t.c, t.d, t.ty);
}

// One detector run on the 256x256 square at `region` of the picture scaled by `scale`.
std::vector<FaceDetection> runDetector(const cv::Mat& scaled, double scale, const cv::Rect& region) {
  cv::Mat canvas(BLAZEFACE_SIZE, BLAZEFACE_SIZE, CV_8UC3, cv::Scalar::all(0));
  const cv::Rect inside = region & cv::Rect(0, 0, scaled.cols, scaled.rows);
  if (inside.empty()) return {};
  scaled(inside).copyTo(canvas(inside - region.tl()));
  static engine::Network& net =
      loadModel(DETECTOR, {{{1, BLAZEFACE_SIZE, BLAZEFACE_SIZE, 3}},
                           {{"Identity:0", {1, 512, 1}}, {"Identity_1:0", {1, 384, 1}},
                            {"Identity_2:0", {1, 512, 16}}, {"Identity_3:0", {1, 384, 16}}}});
  writeRgbPixels(canvas, 1.0f / 127.5f, -1.0f, net.input());
  net.run();
  std::vector<float> logits(net.output("Identity:0"), net.output("Identity:0") + 512);
  logits.insert(logits.end(), net.output("Identity_1:0"), net.output("Identity_1:0") + 384);
  std::vector<float> regressors(net.output("Identity_2:0"), net.output("Identity_2:0") + 512 * 16);
  regressors.insert(regressors.end(), net.output("Identity_3:0"), net.output("Identity_3:0") + 384 * 16);
  const InputPlacement placement{1.0 / scale, region.x / scale, region.y / scale};
  return decodeBlazeface(logits.data(), regressors.data(), placement, DETECTION_THRESHOLD);
}

cv::Mat scaledPicture(const cv::Mat& bgr, double scale) {
  cv::Mat out;
  cv::resize(bgr, out, cv::Size(std::max(1, static_cast<int>(std::lround(bgr.cols * scale))),
                                std::max(1, static_cast<int>(std::lround(bgr.rows * scale)))),
             0, 0, cv::INTER_AREA);
  return out;
}

// Whole picture, then tiles; a tile keeps only the faces it sees whole.
std::vector<FaceDetection> detect(const cv::Mat& bgr) {
  const Tile whole = wholePicture(bgr.cols, bgr.rows);
  const double wholeScale = BLAZEFACE_SIZE / whole.side;
  std::vector<FaceDetection> found =
      runDetector(scaledPicture(bgr, wholeScale), wholeScale,
                  cv::Rect(static_cast<int>(std::lround(whole.x * wholeScale)),
                           static_cast<int>(std::lround(whole.y * wholeScale)), BLAZEFACE_SIZE, BLAZEFACE_SIZE));
  const std::vector<Tile> tiles = tilesFor(bgr.cols, bgr.rows, BLAZEFACE_SIZE / TILE_SCALE, TILE_OVERLAP);
  if (!tiles.empty()) {
    const cv::Mat fine = scaledPicture(bgr, TILE_SCALE);
    for (const Tile& t : tiles) {
      const cv::Rect region(static_cast<int>(std::lround(t.x * TILE_SCALE)),
                            static_cast<int>(std::lround(t.y * TILE_SCALE)), BLAZEFACE_SIZE, BLAZEFACE_SIZE);
      const double margin = 2 / TILE_SCALE;
      const double left = region.x / TILE_SCALE, top = region.y / TILE_SCALE;
      const double right = left + t.side, bottom = top + t.side;
      for (const FaceDetection& d : runDetector(fine, TILE_SCALE, region)) {
        const bool cut = (left > 0 && d.x < left + margin) || (top > 0 && d.y < top + margin) ||
                         (right < bgr.cols && d.x + d.width > right - margin) ||
                         (bottom < bgr.rows && d.y + d.height > bottom - margin);
        if (!cut) found.push_back(d);
      }
    }
  }
  return mergeDetections(std::move(found), MERGE_IOU);
}

cv::Mat crop(const cv::Mat& bgr, const CropTransform& t, int size) {
  cv::Mat out;
  cv::warpAffine(bgr, out, affine(t), cv::Size(size, size), cv::INTER_LINEAR, cv::BORDER_CONSTANT,
                 cv::Scalar::all(0));
  return out;
}

// The mesh of a detected face in picture pixels, or nothing when the mesh
// model says there is no face there.
std::optional<std::vector<MeshPoint>> faceMesh(const cv::Mat& bgr, const FaceDetection& d) {
  const PixelPoint centre{d.x + d.width / 2, d.y + d.height / 2};
  const double angle = lineAngle(d.keypoints[0], d.keypoints[1]);
  const CropTransform t = cropTransform(centre, std::max(d.width, d.height) * MESH_CROP, angle, MESH_SIZE, false);
  static engine::Network& net =
      loadModel(MESH, {{{1, 3, MESH_SIZE, MESH_SIZE}}, {{"mesh", {1, MESH_POINTS * 3}}, {"presence", {1, 1}}}});
  writeRgbPlanes(crop(bgr, t, MESH_SIZE), 1.0f / 255, 0, net.input());
  net.run();
  if (!(net.output("presence")[0] >= MESH_PRESENCE)) return std::nullopt;
  const float* m = net.output("mesh");
  const double zScale = t.pictureScale();
  std::vector<MeshPoint> mesh(MESH_POINTS);
  for (int i = 0; i < MESH_POINTS; ++i) {
    const PixelPoint p = t.toPicture({m[3 * i], m[3 * i + 1]});
    mesh[i] = {p.x, p.y, m[3 * i + 2] * zScale};
  }
  return mesh;
}

struct Eye {
  std::vector<PixelPoint> contour;
  PixelPoint pupil;
};

// Each eye through the iris model, which knows right eyes only: the person's
// left eye is read mirrored.
std::array<Eye, 2> eyes(const cv::Mat& bgr, const std::vector<MeshPoint>& mesh) {
  auto at = [&](int i) { return PixelPoint{mesh[i].x, mesh[i].y}; };
  const std::array<std::pair<int, int>, 2> corners{{{MESH_RIGHT_EYE_OUTER, MESH_RIGHT_EYE_INNER},
                                                    {MESH_LEFT_EYE_INNER, MESH_LEFT_EYE_OUTER}}};
  static engine::Network& net = loadModel(IRIS, {{{1, 3, IRIS_SIZE, IRIS_SIZE}}, {{"iris", {1, IRIS_OUTPUTS, 1, 1}}}});
  std::array<Eye, 2> result;
  for (int e = 0; e < 2; ++e) {
    const PixelPoint a = at(corners[e].first), b = at(corners[e].second);
    const PixelPoint centre{(a.x + b.x) / 2, (a.y + b.y) / 2};
    const double side = std::max(EYE_CROP * std::hypot(b.x - a.x, b.y - a.y), 1.0);
    const CropTransform t = cropTransform(centre, side, lineAngle(a, b), IRIS_SIZE, e == 1);
    writeRgbPlanes(crop(bgr, t, IRIS_SIZE), 1.0f / 255, 0, net.input());
    net.run();
    const float* o = net.output("iris");
    for (int k = 0; k < EYE_CONTOUR; ++k) result[e].contour.push_back(t.toPicture({o[3 * k], o[3 * k + 1]}));
    result[e].pupil = t.toPicture({o[3 * IRIS_CENTRE], o[3 * IRIS_CENTRE + 1]});
  }
  return result;
}

}  // namespace

Faces analyseFaces(const cv::Mat& bgr, bool landmarks) {
  Faces out;
  for (const FaceDetection& d : detect(bgr)) {
    const auto mesh = faceMesh(bgr, d);
    if (!mesh) continue;
    FaceObservation face;
    face.boundingBox = normalisedRect(d.x, d.y, d.width, d.height, bgr.cols, bgr.rows);
    face.confidence = d.score;
    if (const auto angles = headAngles(*mesh)) {
      face.yaw = angles->yaw;
      face.pitch = angles->pitch;
    }
    out.faces.push_back(face);
    if (!landmarks) continue;
    LandmarksObservation l;
    l.boundingBox = face.boundingBox;
    const auto [right, left] = eyes(bgr, *mesh);
    auto inBox = [&](const std::vector<PixelPoint>& points) {
      std::vector<Point> n;
      for (const auto& p : points) n.push_back(normalisedInBox(p, d.x, d.y, d.width, d.height));
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

}  // namespace kestrel::vision::dnn
