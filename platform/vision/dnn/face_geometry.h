#pragma once
// Geometry of the face models: head angles from the face mesh, and how a
// stream follows a face by its mesh. Pure arithmetic on plain data.
#include <array>
#include <optional>
#include <vector>

#include "platform/vision/dnn/blazeface.h"
#include "platform/vision/dnn/detection_geometry.h"
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

// The crop the next frame's mesh reads, from this frame's mesh, as MediaPipe
// follows a face: turned so that the eyes' outer corners are level, centred
// on the mesh's extent along and across that line, 1.5 times its longer side.
RotatedCrop meshCrop(const std::vector<MeshPoint>& mesh);

// A face a stream follows from frame to frame by its mesh.
struct FaceTrack {
  RotatedCrop crop;  // where the next frame's mesh looks
  // The detector's box relative to the mesh (its points' mean and spread)
  // when the face was found: the box moves and scales with the mesh, and
  // keeps the detector's framing (chin, forehead) that its users expect.
  Corners anchor;
  Corners box;      // in this frame, picture pixels
  float score = 0;  // the detector's, when the face was found
};

// A track begun on a detected face (its box and score) and its mesh.
FaceTrack startTrack(const Corners& box, float score, const std::vector<MeshPoint>& mesh);

// The track moved to this frame's mesh.
FaceTrack followTrack(const FaceTrack& track, const std::vector<MeshPoint>& mesh);

}  // namespace kestrel::vision::dnn
