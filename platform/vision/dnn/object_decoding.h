#pragma once
// Decoding the CenterNet detector's outputs: per-class heat maps over a grid
// of cells and, per cell, the distances from the cell to the box's four
// sides. Plain data only.
#include <vector>

#include "platform/vision/dnn/detection_geometry.h"
#include "platform/vision/observations.h"

namespace kestrel::vision::dnn {

// The detector's output grid: `classes` heat maps of rows x cols cells,
// channel-first, and 4 distance maps (left, top, right, bottom) in model input
// pixels; each cell is `stride` input pixels wide.
struct HeatMaps {
  const float* heat = nullptr;
  const float* distances = nullptr;
  int classes = 0, rows = 0, cols = 0;
  int stride = 4;
};

struct Detection {
  int cls = 0;
  float score = 0;
  Corners box;  // picture pixels, clamped to the picture
};

// Every cell that is the largest of its 3x3 neighbourhood in its class's map
// and scores at least minScore, with its box mapped back through the letterbox.
std::vector<Detection> heatMapPeaks(const HeatMaps& maps, const Letterbox& box, float minScore);

// The strongest value of each class's map: image-level scores.
std::vector<float> classMaxima(const HeatMaps& maps);

// Per class, strongest first, drops detections overlapping a kept one of the
// same class by more than maxOverlap.
std::vector<Detection> suppressPerClass(const std::vector<Detection>& detections, double maxOverlap);

// One animal seen as several classes at one place: the detections whose boxes
// overlap the strongest by more than sameObject, at most one per class,
// strongest first.
using AnimalGroup = std::vector<Detection>;
std::vector<AnimalGroup> groupAnimals(const std::vector<Detection>& animals, double sameObject);

}  // namespace kestrel::vision::dnn
