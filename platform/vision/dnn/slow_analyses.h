#pragma once
// What a stream's later frames take over from earlier ones. ISNet's salient
// map (a large share of a cutout frame's work) and the person boxes that split
// the matte into people change little from one frame of a live stream to the
// next: each is made anew every third frame, on different frames, and taken
// over in between. The person matte itself is made on every frame. The held
// step's hands are found by the palm detector every third frame, on the third
// turn; in between each hand is followed from the crop its joints gave on the
// frame before, as long as the landmark model still sees it there.
#include <cstdint>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "platform/vision/dnn/detection_geometry.h"
#include "platform/vision/vision.h"

namespace kestrel::vision {

struct SlowAnalyses {
  int64_t frame = -1;  // the frame being analysed, counted from 0
  cv::Size picture;    // the size the kept analyses were made at
  cv::Mat salient;     // ISNet's map; empty until made
  std::optional<std::vector<dnn::Corners>> people;  // picture pixels
  // Where the next frame looks for the hands of frame `handsFrame`.
  std::vector<dnn::RotatedCrop> handCrops;
  int64_t handsFrame = -1;
};

}  // namespace kestrel::vision

namespace kestrel::vision::dnn {

constexpr int kRefreshEvery = 3;
constexpr int kSalientTurn = 0;
constexpr int kPeopleTurn = 1;
constexpr int kPalmsTurn = 2;

// What the stream's frame carries over from earlier ones, for a picture of
// that size: a picture of another size starts afresh at frame 0. Null without
// a session: the picture is analysed on its own.
SlowAnalyses* carriedAnalyses(StreamSession* session, const cv::Size& picture);

// Whether an analysis taken over from earlier frames is made anew on this
// one: when there is none yet, or on its turn.
bool madeAnew(const SlowAnalyses* kept, bool have, int turn);

}  // namespace kestrel::vision::dnn
