#pragma once
// The photos and the clip that Debian packages ship and the tests read
// (python3-skimage, darknet, opencv-doc; ./setup installs them).
namespace kestrel::test {

inline constexpr const char* kAstronaut = "/usr/lib/python3/dist-packages/skimage/data/astronaut.png";
inline constexpr const char* kCamera = "/usr/lib/python3/dist-packages/skimage/data/camera.png";
inline constexpr const char* kChelsea = "/usr/lib/python3/dist-packages/skimage/data/chelsea.png";  // a cat
inline constexpr const char* kCoffee = "/usr/lib/python3/dist-packages/skimage/data/coffee.png";
inline constexpr const char* kRocket = "/usr/lib/python3/dist-packages/skimage/data/rocket.jpg";  // on its pad
inline constexpr const char* kDog = "/usr/share/darknet/data/dog.jpg";  // with a bicycle and a truck
inline constexpr const char* kKite = "/usr/share/darknet/data/kite.jpg";
inline constexpr const char* kPerson = "/usr/share/darknet/data/person.jpg";  // with a dog and a horse
inline constexpr const char* kMessi = "/usr/share/doc/opencv-doc/examples/data/messi5.jpg";
inline constexpr const char* kBasketball1 = "/usr/share/doc/opencv-doc/examples/data/basketball1.png";
inline constexpr const char* kBasketball2 = "/usr/share/doc/opencv-doc/examples/data/basketball2.png";
inline constexpr const char* kLeuven = "/usr/share/doc/opencv-doc/examples/data/leuvenA.jpg";  // a lane, no one in it
inline constexpr const char* kSquirrel = "/usr/share/doc/opencv-doc/examples/data/squirrel_cls.jpg";
inline constexpr const char* kFruits = "/usr/share/doc/opencv-doc/examples/data/fruits.jpg";
inline constexpr const char* kHand = "/usr/share/doc/opencv-doc/opencv4/html/handSrc.jpg";
// A street seen from a fixed camera, 768 x 576, people walking.
inline constexpr const char* kStreetClip = "/usr/share/doc/opencv-doc/examples/data/vtest.avi";
// An animated film's dinner scene, 720 x 528: a woman holding a glass of wine.
inline constexpr const char* kDinnerClip = "/usr/share/doc/opencv-doc/examples/data/Megamind.avi";

}  // namespace kestrel::test
