#pragma once
// BlazeFace (256x256 "back" model): its anchors, and the squares (around
// people's heads, or tiles) that let the 256-pixel detector see small faces
// in large pictures. Pure arithmetic on plain data; the model run lives in
// faces.cpp, the decoding in ssd_decoding.h.
#include <vector>

#include "platform/vision/dnn/detection_geometry.h"
#include "platform/vision/dnn/ssd_decoding.h"

namespace kestrel::vision::dnn {

inline constexpr int kBlazefaceSize = 256;
inline constexpr int kBlazefaceAnchors = 896;  // 16x16 cells x 2, then 8x8 cells x 6

// A face in picture pixels. Keypoints: eyes (picture left, picture right),
// nose tip, mouth, ear tragions.
using FaceDetection = SsdDetection<6>;

// Anchor centres in 0..1 of the model input, in the model's output row order.
const std::vector<PixelPoint>& blazefaceAnchors();

// A square region of the picture that is scaled to the detector's input.
struct Tile {
  double x = 0, y = 0, side = 0;  // picture pixels
};

// Where a square's edge of `length` starts along an axis 0..limit: at `start`
// moved inside where it fits, else centred on the axis; whole pixels.
double placedInside(double start, double length, int limit);

// Overlapping squares of `side` picture pixels covering the picture, or none
// when the whole-picture pass already sees it at that detail.
std::vector<Tile> tilesFor(int width, int height, double side, double overlap);

// Where a person stands (a box in picture pixels), the square their head is
// in: as wide as the box and at least half as high as it, across its middle,
// from a tenth of its side above the box's top.
Tile headRegion(const Corners& person);

// Squares that hold the head regions of these people from `smallest` (smaller
// ones hold no face the detector makes out) to `largest` (larger ones are seen
// well enough by the coarser passes), each to be scaled
// to the detector's `side`: a region is seen at the coarsest power-of-two
// scale (1, 2, 4... picture pixels per detector pixel) that still shows it at
// least `view` detector pixels wide, so a small head is seen at full
// resolution and several larger ones share one window. Each window holds
// every later region of its scale or coarser that fits in it whole, starting
// from the region nearest the picture's top left not yet held, and stays
// inside the picture where it can. A region larger than its window's side is
// a square of its own.
std::vector<Tile> headWindows(const std::vector<Corners>& people, int width, int height, double side,
                              double view, double smallest, double largest);

}  // namespace kestrel::vision::dnn
