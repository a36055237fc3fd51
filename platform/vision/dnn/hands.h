#pragma once
// Hands: MediaPipe's palm detector finds palms, the landmark model places 21
// joints in a rotated crop around each.
#include <vector>

#include "platform/vision/dnn/detection_geometry.h"
#include "platform/vision/dnn/model_files.h"
#include "platform/vision/dnn/model_image.h"
#include "platform/vision/dnn/slow_analyses.h"
#include "platform/vision/observations.h"

namespace kestrel::vision::dnn {

// In a stream (`kept` from carriedAnalyses, else null) the hands of the frame
// before are followed between the palm detector's turns. Given people (boxes
// in picture pixels), the detector also looks closely over their reach.
std::vector<HandObservation> detectHands(ModelImage& image, int maximumHandCount, SlowAnalyses* kept,
                                         const std::vector<Corners>* people = nullptr);

// Starts loading the models (see loadSoon), at once or after the first picture.
void prepareHands(LoadTurn turn = LoadTurn::Now);

}  // namespace kestrel::vision::dnn
