#pragma once
// What the vision service reports. Rectangles and points are normalised to
// 0..1 across the handler's (upright) picture, origin at the lower left, y up.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::vision {

struct Point {
  double x = 0, y = 0;
};

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
};

struct FaceObservation {
  Rect boundingBox;
  float confidence = 0;
  std::optional<double> yaw;    // radians
  std::optional<double> pitch;  // radians
};

// Landmark points are normalised within the face's bounding box.
struct FaceLandmarks {
  std::optional<std::vector<Point>> leftEye, rightEye, leftPupil, rightPupil;
};

struct LandmarksObservation {
  Rect boundingBox;
  std::optional<FaceLandmarks> landmarks;
};

struct HumanObservation {
  Rect boundingBox;
  float confidence = 0;
};

struct Classification {
  std::string identifier;
  float confidence = 0;
};

struct AnimalObservation {
  Rect boundingBox;
  std::vector<Classification> labels;
};

struct Joint {
  Point location;
  float confidence = 0;
};

struct HandObservation {
  float confidence = 0;
  // All joints of the hand; absent when the joint query failed.
  std::optional<std::vector<Joint>> joints;
};

// One byte per pixel, top row first: 0 background, 1..255 an instance number.
struct InstanceObservation {
  int64_t width = 0, height = 0, stride = 0;
  std::vector<uint8_t> labels;         // stride x height bytes
  std::vector<uint8_t> allInstances;   // every instance number present, ascending
};

// An 8-bit one-component map at its own size, top row first, row stride = width.
struct Matte {
  int64_t width = 0, height = 0;
  std::vector<uint8_t> pixels;
};

}  // namespace kestrel::vision
