#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

// A rectangle in normalised image coordinates with a confidence.
struct Box {
  double x = 0, y = 0, width = 0, height = 0, confidence = 0;
};

struct Face {
  Box box;
  std::optional<double> yaw;
  std::optional<double> pitch;
};

struct Animal {
  std::string label;
  Box box;
};

struct Label {
  std::string label;
  double confidence = 0;
};

struct Info {
  std::string type = "info";
  int64_t width = 0;
  int64_t height = 0;
  uint32_t orientation = 1;
  int64_t hz = 5;
  std::string vision;
};

struct Frame {
  std::string type = "frame";
  std::vector<int64_t> pts;
  std::vector<Face> faces;
  std::vector<Box> humans;
  std::vector<Animal> animals;
  std::vector<Box> hands;
  std::vector<Label> classes;
  std::optional<std::vector<double>> gaze;
  std::vector<uint8_t> thumb;
};

struct Done {
  std::string type = "done";
  int64_t frames = 0;
};

struct PhotoInfo {
  int64_t width = 0;
  int64_t height = 0;
  bool alpha = false;
  uint32_t orientation = 1;
  std::string profile;
  int64_t frames = 0;
};

struct AudioInput {
  std::string id;
  std::string name;
  bool isDefault = false;
};

}  // namespace kestrel
