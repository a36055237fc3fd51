#pragma once
// What the vision service reports. Rectangles and points are normalised to
// 0..1 across the handler's (upright) picture, origin at the lower left, y up.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/picture.h"

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
// It owns its bytes; view() lends them.
struct Matte {
  int64_t width = 0, height = 0;
  std::vector<uint8_t> pixels;
};

// The label map and the matte as one-byte-a-pixel pictures. One whose bytes do
// not cover its size gives an empty picture (no data), which readers take as
// no map at all.
inline Picture view(const InstanceObservation& o) {
  const bool whole = o.width > 0 && o.height > 0 && o.stride >= o.width &&
                     static_cast<uint64_t>(o.stride) <= o.labels.size() / static_cast<uint64_t>(o.height);
  return whole ? Picture{o.labels.data(), o.width, o.height, o.stride, PixelFormat::Grey8} : Picture{};
}
inline Picture view(const Matte& m) {
  const bool whole = m.width > 0 && m.height > 0 &&
                     static_cast<uint64_t>(m.width) <= m.pixels.size() / static_cast<uint64_t>(m.height);
  return whole ? greyPlane(m.pixels.data(), m.width, m.height) : Picture{};
}

}  // namespace kestrel::vision
