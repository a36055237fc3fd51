// People, animals and image labels from one pass of a CenterNet detector
// (MobileNetV3, 80 COCO classes): people are its "person" boxes, animals its
// animal-class boxes, and each class's strongest heat in the picture is an
// image-level label.
#include <algorithm>
#include <string>

#include "platform/vision/dnn/coco_classes.h"
#include "platform/vision/dnn/model_files.h"
#include "platform/vision/dnn/model_input.h"
#include "platform/vision/dnn/modules.h"
#include "platform/vision/dnn/stage_times.h"
#include "platform/vision/dnn/object_decoding.h"

namespace kestrel::vision::dnn {
namespace {

constexpr int kInput = 512;  // letterboxed RGB, raw 0..255
constexpr int kGrid = kInput / 4;  // the heat maps' side
// Thresholds, measured on the photos of tests/vision_objects (strongest peak
// of the class on each object, after suppression):
//   people:  person.jpg 0.77, messi5.jpg 0.66 and background players 0.31 to
//            0.42, astronaut.png 0.61; false: strips at the portrait's edge
//            0.11 to 0.13, the cat of chelsea.png 0.14; but the open hand
//            filling handSrc.jpg is a "person" at 0.58.
//   animals: person.jpg dog 0.54 and horse 0.39 (as sheep; horse 0.32),
//            chelsea.png cat 0.52, dog.jpg dog 0.38; false: the dog as a cat
//            0.20, any animal class in astronaut, coffee, handSrc and messi5
//            below 0.08.
// So 0.3 for both keeps every true object and drops every false one but the hand.
constexpr float kMinPerson = 0.3f;
constexpr float kMinAnimal = 0.3f;
// Other animal classes peaking on the same animal are kept as its further
// labels down to this score.
constexpr float kAnimalLabelFloor = 0.1f;
// Peaks of one class whose boxes overlap more than this are one object; the
// detector often gives two or three peaks on one large object.
constexpr double kSameClassOverlap = 0.5;
// Animal boxes of different classes overlapping more than this are one animal.
constexpr double kSameAnimal = 0.7;


const ModelContract DETECTOR_CONTRACT{{{1, 3, kInput, kInput}},
                                      {{"heatmaps", {1, kCocoClasses, kGrid, kGrid}}, {"boxes", {1, 4, kGrid, kGrid}}}};

}  // namespace

void prepareObjects() { loadModelSoon("centernet.onnx", DETECTOR_CONTRACT); }

Objects detectObjects(ModelImage& image) {
  engine::Network& net = loadModel("centernet.onnx", DETECTOR_CONTRACT);
  const Letterbox box = Letterbox::fit(image.cols(), image.rows(), kInput);
  writeRgbPlanes(image.letterbox(box), 1.0f, 0, net.input());
  {
    const StageTimer timer("model centernet");
    net.run();
  }
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
      objects.humans.push_back({normalisedRect(d.box, image.cols(), image.rows()), d.score});
    else if (cocoAnimal(d.cls))
      animals.push_back(d);
  }
  for (const AnimalGroup& group : groupAnimals(animals, kSameAnimal)) {
    if (group.front().score < kMinAnimal) continue;
    AnimalObservation a;
    a.boundingBox = normalisedRect(group.front().box, image.cols(), image.rows());
    for (const Detection& d : group) a.labels.push_back({std::string(*cocoAnimal(d.cls)), d.score});
    objects.animals.push_back(std::move(a));
  }
  return objects;
}

}  // namespace kestrel::vision::dnn
