#pragma once
#include <optional>
#include <vector>

#include "platform/media/media_time.h"
#include "platform/vision/observations.h"
#include "platform/vision/vision.h"
#include "probe/front/records.h"

namespace kestrel {

// The requests of one analysed frame.
vision::Requests frameRequests();

// The gaze of the largest face: the pupil's offset from the middle of the
// eye's extent in half extents, averaged over the usable eyes.
std::optional<std::vector<double>> gazeOf(const std::vector<vision::LandmarksObservation>& faces);

// The box of a hand's confident joints (above 0.3), or nothing.
std::optional<Box> handBox(const vision::HandObservation& hand);

// The ten likeliest labels at 0.05 or more, highest first, ties in service order.
std::vector<Label> topClasses(const std::vector<vision::Classification>& classes);

// One frame record from the frame's observations, time and thumbnail.
Frame frameRecord(const vision::Results& results, const media::MediaTime& time,
                  std::vector<uint8_t> thumb);

}  // namespace kestrel
