#pragma once
// Geometry of the face models: head angles from the face mesh, and landmarks
// normalised within the face's box. Pure arithmetic on plain data.
#include <array>
#include <optional>
#include <vector>

#include "platform/vision/dnn/blazeface.h"
#include "platform/vision/observations.h"

namespace kestrel::vision::dnn {

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

// A picture-pixel point normalised within a picture-pixel box, origin at the
// box's lower left, y up.
Point normalisedInBox(PixelPoint p, double x, double y, double w, double h);

}  // namespace kestrel::vision::dnn
