#pragma once
// Geometry of the face models: head angles from the face mesh. Pure
// arithmetic on plain data.
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
inline constexpr int kMeshForehead = 10;
inline constexpr int kMeshChin = 152;
inline constexpr int kMeshRightEyeOuter = 33;  // the person's right eye: the picture's left
inline constexpr int kMeshRightEyeInner = 133;
inline constexpr int kMeshLeftEyeInner = 362;
inline constexpr int kMeshLeftEyeOuter = 263;
inline constexpr int kMeshPoints = 468;

struct HeadAngles {
  double yaw = 0, pitch = 0;  // radians
};

// Yaw is positive when the face turns toward the picture's right (the
// person's left), pitch when it turns up; both 0 facing the camera. Nothing
// when the mesh is degenerate.
std::optional<HeadAngles> headAngles(const std::vector<MeshPoint>& mesh);

}  // namespace kestrel::vision::dnn
