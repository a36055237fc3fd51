#pragma once
// The 80 classes of the COCO detection set, in the order detectors trained on
// it number them.
#include <array>
#include <optional>
#include <string_view>

namespace kestrel::vision::dnn {

inline constexpr int kCocoClasses = 80;

// Label identifiers: the COCO names in lower case, spaces as underscores
// ("cell_phone", "dining_table").
const std::array<std::string_view, kCocoClasses>& cocoIdentifiers();

inline constexpr int kCocoPerson = 0;

// The animal identifier of an animal class ("Cat", "Dog", "Bird", "Horse",
// "Sheep", "Cow", "Elephant", "Bear", "Zebra", "Giraffe"); none for the rest.
std::optional<std::string_view> cocoAnimal(int cls);

// Whether the class is something people hold in a hand: a bottle, a cup, a
// glass, a phone, a ball, a book and the like. "remote" is left out: the
// detector calls many a bare hand one.
bool cocoHeldThing(int cls);

}  // namespace kestrel::vision::dnn
