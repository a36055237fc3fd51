// People, animals and image labels from one pass of a CenterNet detector
// (MobileNetV3, 80 COCO classes): people are its "person" boxes, animals its
// animal-class boxes, and each class's strongest heat in the picture is an
// image-level label.
#include "platform/vision/dnn/objects.h"

#include <algorithm>
#include <string>

#include "platform/vision/dnn/coco_classes.h"
#include "platform/vision/dnn/vision_model.h"
#include "platform/vision/dnn/service_coordinates.h"

namespace kestrel::vision::dnn {
namespace {

constexpr int kInput = 512;  // letterboxed RGB, raw 0..255
constexpr int kGrid = kInput / 4;  // the heat maps' side
// The thresholds keep every true person and animal of the photos of
// tests/vision_objects and drop every false one but the open hand filling
// handSrc.jpg (the README gives the peaks measured).
constexpr float kMinPerson = 0.3f;
constexpr float kMinAnimal = 0.3f;
// A held bottle (labelme-examples' 2011_000003.jpg, 0.39) and glass
// (Megamind.avi, 0.27 to 0.37); at 0.25 the detector also takes the odd knife
// on a table, which the cutout's held step adds only near a hand.
constexpr float kMinHeldThing = 0.25f;
// Other animal classes peaking on the same animal are kept as its further
// labels down to this score.
constexpr float kAnimalLabelFloor = 0.1f;
// Peaks of one class whose boxes overlap more than this are one object; the
// detector often gives two or three peaks on one large object.
constexpr double kSameClassOverlap = 0.5;
// Animal boxes of different classes overlapping more than this are one animal.
constexpr double kSameAnimal = 0.7;

const VisionModel kDetector{"centernet.onnx",
                          {{{1, 3, kInput, kInput}},
                           {{"heatmaps", {1, kCocoClasses, kGrid, kGrid}}, {"boxes", {1, 4, kGrid, kGrid}}}},
                          "model centernet",
                          {1.0f, 0}};

}  // namespace

void prepareObjects() { loadSoon(kDetector); }

Objects detectObjects(ModelImage& image) {
  engine::Network& net = network(kDetector);
  const Letterbox box = Letterbox::fit(image.cols(), image.rows(), kInput);
  run(kDetector, net, image.letterbox(box));
  const HeatMaps maps{net.output("heatmaps"), net.output("boxes"), kCocoClasses, kGrid, kGrid, kInput / kGrid};

  Objects objects;
  const auto& names = cocoIdentifiers();
  const std::vector<float> maxima = classMaxima(maps);
  for (int c = 0; c < kCocoClasses; ++c) objects.classes.push_back({std::string(names[c]), maxima[c]});
  std::stable_sort(objects.classes.begin(), objects.classes.end(),
                   [](const Classification& a, const Classification& b) { return a.confidence > b.confidence; });

  const std::vector<Detection> peaks =
      suppressPerClass(heatMapPeaks(maps, box, std::min(kMinPerson, kAnimalLabelFloor)), kSameClassOverlap);
  std::vector<Detection> animals;
  for (const Detection& d : peaks) {
    if (d.cls == kCocoPerson) objects.likelyPeople.push_back(d.box);
    if (d.cls == kCocoPerson && d.score >= kMinPerson)
      objects.people.push_back(d);
    else if (cocoAnimal(d.cls))
      animals.push_back(d);
    else if (cocoHeldThing(d.cls) && d.score >= kMinHeldThing)
      objects.heldThings.push_back(d.box);
  }
  for (AnimalGroup& group : groupAnimals(animals, kSameAnimal))
    if (group.front().score >= kMinAnimal) objects.animals.push_back(std::move(group));
  return objects;
}

std::vector<HumanObservation> humanObservations(const std::vector<Detection>& people, int width, int height) {
  std::vector<HumanObservation> humans;
  for (const Detection& d : people) humans.push_back({normalisedRect(d.box, width, height), d.score});
  return humans;
}

std::vector<AnimalObservation> animalObservations(const std::vector<AnimalGroup>& animals, int width, int height) {
  std::vector<AnimalObservation> out;
  for (const AnimalGroup& group : animals) {
    AnimalObservation a;
    a.boundingBox = normalisedRect(group.front().box, width, height);
    for (const Detection& d : group) a.labels.push_back({std::string(*cocoAnimal(d.cls)), d.score});
    out.push_back(std::move(a));
  }
  return out;
}

}  // namespace kestrel::vision::dnn
