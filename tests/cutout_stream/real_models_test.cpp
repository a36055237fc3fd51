// The cutout and person streams with the real models on a real photo.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/clips.h"
#include "tests/support/fixture_photos.h"
#include "tests/support/process.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;

namespace {

constexpr int W = 640, H = 360;

// The astronaut (512 x 512) scaled to the frame's height and centred.
std::string astronautFrame(const Scratch& s) {
  return readFile(makeClip(s, "a.bgra",
                           std::string("-i ") + kAstronaut +
                               " -vf 'scale=-2:360,pad=640:360:(ow-iw)/2:0' -f rawvideo -pix_fmt bgra"));
}

struct Record {
  float header[8];
  std::string mask;
  uint8_t at(int x, int y) const { return static_cast<uint8_t>(mask[static_cast<size_t>(y * W + x)]); }
  double share() const {
    return static_cast<double>(std::count_if(mask.begin(), mask.end(),
                                             [](char c) { return static_cast<uint8_t>(c) >= 128; })) /
           (W * H);
  }
};

std::vector<Record> records(const std::string& out) {
  std::vector<Record> r;
  const size_t size = 32 + W * H;
  for (size_t at = 0; at + size <= out.size(); at += size) {
    Record rec;
    std::memcpy(rec.header, out.data() + at, 32);
    rec.mask = out.substr(at + 32, W * H);
    r.push_back(rec);
  }
  return r;
}

}  // namespace

TEST(CutoutRealModels, AstronautIsCutOutWithHerFace) {
  Scratch s;
  const std::string frame = astronautFrame(s);
  ASSERT_EQ(frame.size(), 4u * W * H);
  auto run = runProbe({"--cutout", "640", "360"}, {.input = frame + frame});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  auto recs = records(run.out);
  ASSERT_EQ(recs.size(), 2u);
  const Record& r = recs[0];
  // The face box lies on her head (columns ~250..350, rows ~10..130).
  EXPECT_GT(r.header[0] * W, 230);
  EXPECT_LT((r.header[0] + r.header[2]) * W, 370);
  EXPECT_LT(r.header[1] * H, 80);
  EXPECT_GT(r.header[3] * H, 30);
  // Her head and chest are in, the background corners are out.
  EXPECT_GE(r.at(300, 60), 128);
  EXPECT_GE(r.at(290, 200), 128);
  EXPECT_EQ(r.at(10, 10), 0);
  EXPECT_EQ(r.at(630, 20), 0);
  EXPECT_GT(r.share(), 0.1);
  EXPECT_LT(r.share(), 0.5);
  // The matte carries its state to the next frame: the same frame again gives
  // the same face and nearly the same mask.
  EXPECT_EQ(std::memcmp(recs[1].header, r.header, 16), 0);
  int changed = 0;
  for (size_t i = 0; i < r.mask.size(); ++i)
    changed += (static_cast<uint8_t>(r.mask[i]) >= 128) != (static_cast<uint8_t>(recs[1].mask[i]) >= 128);
  EXPECT_LT(changed, W * H / 50);
}

// Frame 173 of the dinner clip, as a still stream: the woman holds a glass
// at room distance. Neither the person matte nor the salient map keeps its
// bowl, the object detector's box does, and the held step puts it back
// beside her hand.
TEST(CutoutRealModels, AGlassHeldAtRoomDistanceStaysInTheMask) {
  constexpr int w = 720, h = 528;
  Scratch s;
  const std::string frame = readFile(makeClip(
      s, "glass.bgra", std::string("-i ") + kDinnerClip + " -vf 'select=eq(n\\,173)' -frames:v 1 -f rawvideo -pix_fmt bgra"));
  ASSERT_EQ(frame.size(), 4u * w * h);
  std::string frames;
  for (int i = 0; i < 8; ++i) frames += frame;
  auto run = runProbe({"--cutout", std::to_string(w), std::to_string(h)}, {.input = frames});
  ASSERT_EQ(run.status, 0) << run.err;
  const size_t record = 32 + w * h;
  ASSERT_EQ(run.out.size(), 8 * record);
  const std::string last = run.out.substr(7 * record);
  float held[4];
  std::memcpy(held, last.data() + 16, sizeof held);
  // The held box spans her hand's work region, glass and all (the hand at
  // about 60..130 x 375..445).
  EXPECT_LT(held[0] * w, 90);
  EXPECT_GT(held[2] * w, 135);
  EXPECT_LT(held[1] * h, 375);
  EXPECT_GT(held[3] * h, 445);
  // The glass's bowl, marked by hand between her fingers and the top of the
  // work region (65 on average without the detector's things).
  double sum = 0;
  for (int y = 340; y < 398; ++y)
    for (int x = 97; x < 128; ++x) sum += static_cast<uint8_t>(last[32 + static_cast<size_t>(y * w + x)]);
  EXPECT_GE(sum / (58 * 31), 200);
}

TEST(CutoutRealModels, AFlatFrameHasNoPerson) {
  std::string flat;
  for (int i = 0; i < W * H; ++i) flat += std::string("\x80\x90\xa0\xff", 4);
  auto run = runProbe({"--cutout", "640", "360"}, {.input = flat});
  ASSERT_EQ(run.status, 0) << run.err;
  auto recs = records(run.out);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_LT(recs[0].share(), 0.02);
  EXPECT_EQ(recs[0].header[0], -1.0f);
}

TEST(CutoutRealModels, PersonMatteAtEveryQuality) {
  Scratch s;
  const std::string frame = astronautFrame(s);
  for (const char* quality : {"fast", "balanced", "accurate"}) {
    auto run = runProbe({"--person", "640", "360", quality}, {.input = frame});
    ASSERT_EQ(run.status, 0) << run.err;
    auto recs = records(run.out);
    ASSERT_EQ(recs.size(), 1u) << quality;
    for (float v : recs[0].header) EXPECT_EQ(v, 0.0f);
    EXPECT_GE(recs[0].at(290, 200), 128) << quality;
    EXPECT_LT(recs[0].at(10, 10), 128) << quality;
  }
}
