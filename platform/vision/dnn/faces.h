#pragma once
// Faces: BlazeFace finds them, the face mesh confirms each one and gives the
// head's angles, and the iris model gives each eye's contour and pupil.
#include <vector>

#include "platform/vision/dnn/detection_geometry.h"
#include "platform/vision/dnn/model_image.h"
#include "platform/vision/dnn/slow_analyses.h"
#include "platform/vision/observations.h"

namespace kestrel::vision::dnn {

// The faces with their head angles and, when asked, their eyes and pupils.
struct Faces {
  std::vector<FaceObservation> faces;
  std::vector<LandmarksObservation> landmarks;
};

// Given the people found in the picture (boxes in picture pixels), the
// detector looks closely at their heads; without, at tiles of a large picture.
Faces analyseFaces(ModelImage& image, bool landmarks, const std::vector<Corners>* people);

// The faces of a stream's frame: those of the frame before followed by their
// mesh, and new ones found by the detector on its turns (faceSearch): every
// twelfth frame, whenever a followed face is lost and, at the whole picture
// only, every third frame while none is followed.
Faces followFaces(ModelImage& image, bool landmarks, const std::vector<Corners>* people, SlowAnalyses& kept);

// Starts loading the models (see loadSoon), so that a stream's first frame
// does not wait for them one after another.
void prepareFaces(bool landmarks);

}  // namespace kestrel::vision::dnn
