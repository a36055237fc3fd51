#pragma once
// People, animals and image labels from one pass of the object detector.
#include <vector>

#include "platform/vision/dnn/model_image.h"
#include "platform/vision/dnn/object_decoding.h"
#include "platform/vision/observations.h"

namespace kestrel::vision::dnn {

// What the pass found, boxes in picture pixels.
struct Objects {
  std::vector<Detection> people;    // strongest first
  std::vector<AnimalGroup> animals;  // each animal's labels, strongest first
  std::vector<Classification> classes;
  // Where people may be, down to weak peaks that are not reported as people
  // (a head without a body), for the faces' closer look.
  std::vector<Corners> likelyPeople;
  // Things people hold (cocoHeldThing): the instances take them where the
  // salient map shows nothing.
  std::vector<Corners> heldThings;
};
Objects detectObjects(ModelImage& image);

// The people and animals of a width x height picture as the service reports them.
std::vector<HumanObservation> humanObservations(const std::vector<Detection>& people, int width, int height);
std::vector<AnimalObservation> animalObservations(const std::vector<AnimalGroup>& animals, int width, int height);

// Starts loading the model (see loadSoon).
void prepareObjects();

}  // namespace kestrel::vision::dnn
