// The CenterNet detector on real photos, through the vision service: people,
// animals and image labels from one request set.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/vision_objects/photos.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

vision::Results detect(const char* path) {
  cv::Mat photo = loadBgra(path);
  EXPECT_FALSE(photo.empty()) << path;
  if (photo.empty()) return {};
  vision::Requests r;
  r.humanRectangles = r.animals = r.classify = true;
  return analyse(photo, r);
}

double centreX(const vision::Rect& r) { return r.x + r.width / 2; }
double centreY(const vision::Rect& r) { return r.y + r.height / 2; }

bool hasLabel(const vision::AnimalObservation& a, const std::string& id) {
  return std::any_of(a.labels.begin(), a.labels.end(),
                     [&](const vision::Classification& l) { return l.identifier == id; });
}

// The rank of a label among the image labels (sorted by confidence), or -1.
int rank(const vision::Results& r, const std::string& id) {
  for (size_t i = 0; i < r.classes.size(); ++i)
    if (r.classes[i].identifier == id) return static_cast<int>(i);
  return -1;
}

}  // namespace

TEST(ObjectsPhoto, CatAndNoPerson) {
  auto r = detect(kChelsea);
  EXPECT_TRUE(r.humans.empty());
  ASSERT_EQ(r.animals.size(), 1u);
  EXPECT_EQ(r.animals[0].labels.at(0).identifier, "Cat");
  EXPECT_GT(r.animals[0].boundingBox.width, 0.6);  // the cat fills the picture
  EXPECT_EQ(rank(r, "cat"), 0);
}

TEST(ObjectsPhoto, AstronautIsOnePersonLeftOfCentre) {
  auto r = detect(kAstronaut);
  ASSERT_EQ(r.humans.size(), 1u);
  EXPECT_GT(r.humans[0].boundingBox.height, 0.8);
  EXPECT_LT(centreX(r.humans[0].boundingBox), 0.5);
  EXPECT_GE(r.humans[0].confidence, 0.3f);
  EXPECT_TRUE(r.animals.empty());
  EXPECT_EQ(rank(r, "person"), 0);
}

TEST(ObjectsPhoto, DogBicycleTruck) {
  auto r = detect(kDog);
  EXPECT_TRUE(r.humans.empty());
  ASSERT_EQ(r.animals.size(), 1u);
  const auto& dog = r.animals[0];
  EXPECT_EQ(dog.labels.at(0).identifier, "Dog");
  // The dog sits at the lower left.
  EXPECT_LT(centreX(dog.boundingBox), 0.4);
  EXPECT_LT(centreY(dog.boundingBox), 0.5);
  for (const char* id : {"bicycle", "truck", "dog"}) {
    EXPECT_GE(rank(r, id), 0) << id;
    EXPECT_LT(rank(r, id), 10) << id;
    EXPECT_GE(r.classes[rank(r, id)].confidence, 0.05f) << id;
  }
}

TEST(ObjectsPhoto, PersonDogAndHorse) {
  auto r = detect(kPerson);
  ASSERT_EQ(r.humans.size(), 1u);
  EXPECT_NEAR(centreX(r.humans[0].boundingBox), 0.36, 0.1);
  ASSERT_EQ(r.animals.size(), 2u);
  auto dog = std::find_if(r.animals.begin(), r.animals.end(),
                          [](const auto& a) { return a.labels.at(0).identifier == "Dog"; });
  ASSERT_NE(dog, r.animals.end());
  EXPECT_LT(centreX(dog->boundingBox), 0.3);
  const auto& horse = r.animals[dog == r.animals.begin() ? 1 : 0];
  EXPECT_GT(centreX(horse.boundingBox), 0.6);
  // The detector is unsure between sheep, cow and horse for this horse; the
  // horse is among its labels.
  EXPECT_TRUE(hasLabel(horse, "Horse"));
  for (const auto& a : r.animals)
    for (size_t i = 1; i < a.labels.size(); ++i)
      EXPECT_LE(a.labels[i].confidence, a.labels[i - 1].confidence);
}

TEST(ObjectsPhoto, CoffeeCupIsTheTopLabel) {
  auto r = detect(kCoffee);
  EXPECT_TRUE(r.humans.empty());
  EXPECT_TRUE(r.animals.empty());
  ASSERT_EQ(r.classes.size(), 80u);
  EXPECT_EQ(r.classes[0].identifier, "cup");
  for (size_t i = 1; i < r.classes.size(); ++i)
    EXPECT_LE(r.classes[i].confidence, r.classes[i - 1].confidence);
}

TEST(ObjectsPhoto, OnlyTheRequestedListsAreFilled) {
  cv::Mat photo = loadBgra(kPerson);
  ASSERT_FALSE(photo.empty());
  vision::Requests r;
  r.animals = true;
  auto results = analyse(photo, r);
  EXPECT_TRUE(results.humans.empty());
  EXPECT_TRUE(results.classes.empty());
  EXPECT_EQ(results.animals.size(), 2u);
}
