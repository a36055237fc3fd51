#include "platform/vision/dnn/coco_classes.h"

#include <algorithm>

namespace kestrel::vision::dnn {

// Compiled in rather than read from opencv-doc's object_detection_classes_coco.txt
// at run time: documentation packages are often left out of installations,
// and the list belongs to the model's weights. That file numbers the 90 COCO
// ids, ten of them unused (street sign, hat, shoe, ...); these are the 80 used
// ones in order, spelled as there. darknet's coco.names has the same order
// with some older spellings ("motorbike", "tvmonitor").
const std::array<std::string_view, kCocoClasses>& cocoIdentifiers() {
  static const std::array<std::string_view, kCocoClasses> names = {
      "person",        "bicycle",      "car",           "motorcycle",    "airplane",
      "bus",           "train",        "truck",         "boat",          "traffic_light",
      "fire_hydrant",  "stop_sign",    "parking_meter", "bench",         "bird",
      "cat",           "dog",          "horse",         "sheep",         "cow",
      "elephant",      "bear",         "zebra",         "giraffe",       "backpack",
      "umbrella",      "handbag",      "tie",           "suitcase",      "frisbee",
      "skis",          "snowboard",    "sports_ball",   "kite",          "baseball_bat",
      "baseball_glove", "skateboard",  "surfboard",     "tennis_racket", "bottle",
      "wine_glass",    "cup",          "fork",          "knife",         "spoon",
      "bowl",          "banana",       "apple",         "sandwich",      "orange",
      "broccoli",      "carrot",       "hot_dog",       "pizza",         "donut",
      "cake",          "chair",        "couch",         "potted_plant",  "bed",
      "dining_table",  "toilet",       "tv",            "laptop",        "mouse",
      "remote",        "keyboard",     "cell_phone",    "microwave",     "oven",
      "toaster",       "sink",         "refrigerator",  "book",          "clock",
      "vase",          "scissors",     "teddy_bear",    "hair_drier",    "toothbrush"};
  return names;
}

std::optional<std::string_view> cocoAnimal(int cls) {
  static const std::array<std::string_view, 10> animals = {
      "Bird", "Cat", "Dog", "Horse", "Sheep", "Cow", "Elephant", "Bear", "Zebra", "Giraffe"};
  constexpr int kFirstAnimal = 14;  // bird .. giraffe are classes 14 to 23
  if (cls < kFirstAnimal || cls >= kFirstAnimal + static_cast<int>(animals.size())) return std::nullopt;
  return animals[static_cast<size_t>(cls - kFirstAnimal)];
}

bool cocoHeldThing(int cls) {
  static const std::array<std::string_view, 21> held = {
      "umbrella", "handbag", "frisbee",  "sports_ball", "baseball_bat", "baseball_glove", "tennis_racket",
      "bottle",   "wine_glass", "cup",   "fork",        "knife",        "spoon",          "banana",
      "apple",    "orange",  "cell_phone", "book",      "scissors",     "teddy_bear",     "toothbrush"};
  if (cls < 0 || cls >= kCocoClasses) return false;
  return std::find(held.begin(), held.end(), cocoIdentifiers()[static_cast<size_t>(cls)]) != held.end();
}

}  // namespace kestrel::vision::dnn
