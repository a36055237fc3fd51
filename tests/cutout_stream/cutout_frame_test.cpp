// The cutout frame step on scripted observations.
#include <gtest/gtest.h>

#include "probe/cutout/cutout_frame.h"
#include "tests/support/scripted_vision.h"

using namespace kestrel;
using namespace kestrel::test;

namespace {

constexpr int64_t S = 100;  // frame side; label maps and mattes at the same size

vision::FaceObservation face(double x, double y, double w, double h) {
  return vision::FaceObservation{vision::Rect{x, y, w, h}, 0.9f, std::nullopt, std::nullopt};
}

// Label 1: a body below the default face; label 2: a cup beside it.
uint8_t bodyAndCup(int64_t x, int64_t y) {
  if (x >= 30 && x < 70 && y >= 30) return 1;
  if (x >= 75 && x < 90 && y >= 60 && y < 80) return 2;
  return 0;
}

vision::Matte matte(const std::function<uint8_t(int64_t, int64_t)>& value) {
  vision::Matte m{S, S, std::vector<uint8_t>(S * S)};
  for (int64_t y = 0; y < S; ++y)
    for (int64_t x = 0; x < S; ++x) m.pixels[static_cast<size_t>(y * S + x)] = value(x, y);
  return m;
}

vision::Matte bodyMatte() {
  return matte([](int64_t x, int64_t y) -> uint8_t { return x >= 30 && x < 70 && y >= 20 ? 255 : 0; });
}

struct Step {
  ScriptedService service;
  CutoutStream stream = makeCutoutStream(S, S, true);
  FrameHeader run() { return cutoutAnalyse(stream, service); }
  uint8_t at(int64_t x, int64_t y) const { return stream.mask[static_cast<size_t>(y * S + x)]; }
  int64_t foreground() const {
    return std::count_if(stream.mask.begin(), stream.mask.end(), [](uint8_t v) { return v >= 128; });
  }
};

const std::array<float, 4> none{-1, -1, -1, -1};

}  // namespace

TEST(HeldSwitch, OnlyExactlyOneSwitchesItOff) {
  EXPECT_FALSE(heldEnabledBy("1"));
  for (const char* v : {"0", "", " 1", "1 ", "true", "11"}) EXPECT_TRUE(heldEnabledBy(v)) << v;
  EXPECT_TRUE(heldEnabledBy(nullptr));
}

TEST(CutoutFrame, NoFaceProbesTheDefaultRectangle) {
  Step s;
  s.service.script.cutout.instances = {labelMap(S, S, bodyAndCup)};
  auto h = s.run();
  EXPECT_EQ(h.face, none);
  EXPECT_EQ(h.held, none);  // no person matte: no held step
  EXPECT_EQ(s.stream.picked, std::vector<uint8_t>{1});
  EXPECT_EQ(s.at(50, 50), 255);
  EXPECT_EQ(s.at(80, 70), 0);  // the cup is not the person's
  EXPECT_EQ(s.stream.instanceMask, s.stream.mask);
}

TEST(CutoutFrame, LargestFaceWinsAndEqualAreasKeepTheFirst) {
  Step s;
  // Face A over the cup, face B over the body, same area: A decides.
  s.service.script.cutout.faces = {face(0.75, 0.25, 0.1, 0.1), face(0.4, 0.5, 0.2, 0.05)};
  s.service.script.cutout.instances = {labelMap(S, S, bodyAndCup)};
  auto h = s.run();
  EXPECT_FLOAT_EQ(h.face[0], 0.75f);
  EXPECT_FLOAT_EQ(h.face[1], 0.65f);  // top edge from the top: 1 - (0.25 + 0.1)
  EXPECT_FLOAT_EQ(h.face[2], 0.1f);
  EXPECT_FLOAT_EQ(h.face[3], 0.1f);
  EXPECT_EQ(s.stream.picked, std::vector<uint8_t>{2});
  // A strictly larger later face replaces it.
  s.service.script.cutout.faces.push_back(face(0.4, 0.6, 0.2, 0.2));
  h = s.run();
  EXPECT_FLOAT_EQ(h.face[0], 0.4f);
  EXPECT_EQ(s.stream.picked, std::vector<uint8_t>{1});
}

TEST(CutoutFrame, ProbesOnBackgroundTakeEveryInstance) {
  Step s;
  s.service.script.cutout.instances = {labelMap(S, S, [](int64_t x, int64_t y) -> uint8_t {
    return x < 10 ? 3 : (y < 10 ? 9 : 0);
  })};
  s.run();
  EXPECT_EQ(s.stream.picked, (std::vector<uint8_t>{3, 9}));
  EXPECT_EQ(s.at(5, 50), 255);
  EXPECT_EQ(s.at(50, 5), 255);
}

TEST(CutoutFrame, FailedScaledMaskLeavesTheInstancePartEmpty) {
  Step s;
  s.service.script.cutout.instances = {labelMap(S, S, bodyAndCup)};
  s.service.script.failScaledMask = true;
  s.run();
  EXPECT_EQ(s.foreground(), 0);
}

TEST(CutoutFrame, PersonWithoutInstancesIsTheMatteUngated) {
  Step s;
  s.service.script.cutout.persons = {matte([](int64_t, int64_t) { return 200; })};
  s.service.script.cutout.faces = {face(0.4, 0.6, 0.2, 0.2)};
  auto h = s.run();
  EXPECT_EQ(h.held, none);
  EXPECT_EQ(s.service.log.handPoseRequests, 0);
  EXPECT_TRUE(std::all_of(s.stream.mask.begin(), s.stream.mask.end(), [](uint8_t v) { return v == 200; }));
}

TEST(CutoutFrame, NeitherInstancesNorPersonGiveAnEmptyMask) {
  Step s;
  std::fill(s.stream.mask.begin(), s.stream.mask.end(), 99);  // left over from a last frame
  auto h = s.run();
  EXPECT_EQ(h.face, none);
  EXPECT_EQ(h.held, none);
  EXPECT_EQ(std::count(s.stream.mask.begin(), s.stream.mask.end(), 0), S * S);
}

TEST(CutoutFrame, GateTrimsTheInstancesToThePerson) {
  Step s;
  // Instance 1 reaches far left of the person (columns 0..9): the gate cuts it.
  s.service.script.cutout.instances = {labelMap(S, S, [](int64_t x, int64_t y) -> uint8_t {
    return (x >= 30 && x < 70 && y >= 30) || (x < 10 && y >= 30) ? 1 : 0;
  })};
  s.service.script.cutout.persons = {bodyMatte()};
  s.stream.heldEnabled = false;
  s.run();
  EXPECT_EQ(s.at(50, 50), 255);
  EXPECT_EQ(s.at(5, 50), 0);
  EXPECT_EQ(s.stream.instanceMask[50 * S + 5], 255);
}

// Each way the held step is started, and not.
TEST(CutoutFrame, HeldStepTriggers) {
  struct Case {
    const char* name;
    std::function<uint8_t(int64_t, int64_t)> labels;
    std::function<uint8_t(int64_t, int64_t)> person;
    bool heldEnabled;
    int handRequests;
  };
  auto body = [](int64_t x, int64_t y) -> uint8_t { return x >= 30 && x < 70 && y >= 30 ? 1 : 0; };
  auto person = [](int64_t x, int64_t y) -> uint8_t { return x >= 30 && x < 70 && y >= 20 ? 255 : 0; };
  const Case cases[] = {
      {"nothing to do", body, person, true, 0},
      {"another instance", bodyAndCup, person, true, 1},
      {"another instance, switched off", bodyAndCup, person, false, 0},
      // 1000 pixels cut by the gate: at least 0.015 x 10000.
      {"gate cut", [](int64_t x, int64_t y) -> uint8_t { return (x >= 30 && x < 70 && y >= 30) || (x < 10 && y >= 0) ? 1 : 0; },
       person, true, 1},
      // The person is faint (100) over part of the body: foreground outside the widened person.
      {"outside the person", body,
       [](int64_t x, int64_t y) -> uint8_t { return x >= 30 && x < 70 && y >= 20 ? (y >= 80 ? 100 : 255) : 0; },
       true, 1},
  };
  for (const auto& c : cases) {
    Step s;
    s.stream.heldEnabled = c.heldEnabled;
    s.service.script.cutout.instances = {labelMap(S, S, c.labels)};
    s.service.script.cutout.persons = {matte(c.person)};
    s.run();
    EXPECT_EQ(s.service.log.handPoseRequests, c.handRequests) << c.name;
  }
}

TEST(CutoutFrame, HeldBoxComesFromTheHands) {
  Step s;
  s.service.script.cutout.instances = {labelMap(S, S, bodyAndCup)};
  s.service.script.cutout.persons = {bodyMatte()};
  std::vector<vision::Joint> joints;
  for (double x : {0.65, 0.7, 0.75, 0.8, 0.85}) joints.push_back({{x, 0.45}, 0.9f});
  joints.push_back({{0.65, 0.25}, 0.9f});
  s.service.script.hands.hands = {vision::HandObservation{0.9f, joints}};
  auto h = s.run();
  // The joints span columns 65..85 and rows 55..75: a side of 20, reached
  // 0.75 x 20 = 15 beyond, kept within the frame.
  EXPECT_EQ(h.held, (std::array<float, 4>{0.5f, 0.4f, 1.0f, 0.9f}));
  EXPECT_EQ(s.at(80, 70), 255);  // the cup in the hand was added
}
