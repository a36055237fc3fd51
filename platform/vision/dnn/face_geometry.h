#pragma once
// Geometry of the face models: the square, rotated crops they read, head
// angles from the face mesh, and the service's normalised coordinates.
// Pure arithmetic on plain data.
#include <array>
#include <optional>
#include <vector>

#include "platform/vision/dnn/blazeface.h"
#include "platform/vision/observations.h"

namespace kestrel::vision::dnn {

// Maps picture pixels to crop pixels: crop = A * picture + b. A square of
// `side` picture pixels centred on `centre`, turned by `angle` radians (so
// that a line at that angle in the picture is level in the crop), scaled to
// `size` pixels and, when `mirror`, flipped left to right.
struct CropTransform {
  double a = 1, b = 0, c = 0, d = 1, tx = 0, ty = 0;  // [a b tx; c d ty]
  PixelPoint toCrop(PixelPoint p) const;
  PixelPoint toPicture(PixelPoint q) const;
  double pictureScale() const;  // picture pixels per crop pixel
};
CropTransform cropTransform(PixelPoint centre, double side, double angle, int size, bool mirror);

// The angle of the line from `from` to `to`, in picture pixels (y down).
double lineAngle(PixelPoint from, PixelPoint to);

struct MeshPoint {
  double x = 0, y = 0, z = 0;  // picture pixels; z grows away from the camera
};

// Face-mesh vertices used for the head's axes and the eyes.
enum MeshIndex : int {
  MESH_FOREHEAD = 10,
  MESH_CHIN = 152,
  MESH_RIGHT_EYE_OUTER = 33,  // the person's right eye: the picture's left
  MESH_RIGHT_EYE_INNER = 133,
  MESH_LEFT_EYE_INNER = 362,
  MESH_LEFT_EYE_OUTER = 263,
  MESH_POINTS = 468,
};

struct HeadAngles {
  double yaw = 0, pitch = 0;  // radians
};

// Yaw is positive when the face turns toward the picture's right (the
// person's left), pitch when it turns up; both 0 facing the camera. Nothing
// when the mesh is degenerate.
std::optional<HeadAngles> headAngles(const std::vector<MeshPoint>& mesh);

// A picture-pixel box (top-left origin) as a normalised rectangle with the
// origin at the lower left of a width x height picture.
Rect normalisedRect(double x, double y, double w, double h, int width, int height);

// A picture-pixel point normalised within a picture-pixel box, origin at the
// box's lower left, y up.
Point normalisedInBox(PixelPoint p, double x, double y, double w, double h);

}  // namespace kestrel::vision::dnn
