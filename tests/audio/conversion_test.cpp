// Turning captured blocks into the 48 kHz mono stream, and the end of the input.
#include <gtest/gtest.h>

#include <unistd.h>

#include <thread>

#include "platform/audio/mono_resampler.h"
#include "probe/audio/capacity.h"
#include "probe/audio/stop_signal.h"
#include "tests/audio/tone.h"

using namespace kestrel;
using kestrel::audio::MonoResampler;
using kestrel::test::toneLevel;
using kestrel::test::tones;

namespace {

// Converts interleaved frames in blocks of `block` frames with the capacity rule.
std::vector<float> convertInBlocks(MonoResampler& r, const std::vector<float>& in, uint32_t channels,
                                   uint32_t rate, size_t block) {
  std::vector<float> out, buffer;
  size_t frames = in.size() / channels;
  for (size_t at = 0; at < frames; at += block) {
    size_t n = std::min(block, frames - at);
    buffer.resize(outputCapacity(n, rate));
    size_t got = r.convert(in.data() + at * channels, n, buffer.data(), buffer.size());
    EXPECT_LE(got, buffer.size());
    out.insert(out.end(), buffer.begin(), buffer.begin() + static_cast<long>(got));
  }
  return out;
}

}  // namespace

TEST(OutputCapacity, ConvertedLengthTruncatedPlusSlack) {
  EXPECT_EQ(outputCapacity(2048, 44100), 2293u);  // 2229.1... -> 2229, + 64
  EXPECT_EQ(outputCapacity(2048, 48000), 2112u);
  EXPECT_EQ(outputCapacity(480, 8000), 2944u);
  EXPECT_EQ(outputCapacity(4096, 96000), 2112u);
  EXPECT_EQ(outputCapacity(0, 44100), 64u);
}

TEST(MonoResampler, StereoTakesChannelZeroOnlyAt48k) {
  const uint32_t rate = 44100;
  auto in = tones({1000, 3000}, rate, rate * 2);  // two seconds
  auto r = MonoResampler::make(rate, 2);
  ASSERT_TRUE(r);
  auto out = convertInBlocks(*r, in, 2, rate, 2048);
  EXPECT_NEAR(static_cast<double>(out.size()), 96000, 200);
  EXPECT_NEAR(toneLevel(out, 1000, 48000, 1000), 0.5, 0.02);
  EXPECT_LT(toneLevel(out, 3000, 48000, 1000), 0.005);  // no mixing of channel 1
}

TEST(MonoResampler, StateCarriesAcrossBlocks) {
  // Block by block must give what one whole conversion gives: a resampler
  // that forgot its history would click at every block boundary.
  const uint32_t rate = 44100;
  auto in = tones({997, 50}, rate, 20000);
  auto whole = MonoResampler::make(rate, 2);
  auto blocks = MonoResampler::make(rate, 2);
  ASSERT_TRUE(whole && blocks);
  auto once = convertInBlocks(*whole, in, 2, rate, 20000);
  auto pieces = convertInBlocks(*blocks, in, 2, rate, 333);
  ASSERT_GT(once.size(), 20000u);
  ASSERT_GE(pieces.size(), once.size() - 64);
  for (size_t i = 0; i < once.size() - 64; ++i) ASSERT_NEAR(pieces[i], once[i], 1e-5) << "at " << i;
}

TEST(MonoResampler, MonoAt48kPassesThrough) {
  auto in = tones({440}, 48000, 4096);
  auto r = MonoResampler::make(48000, 1);
  ASSERT_TRUE(r);
  auto out = convertInBlocks(*r, in, 1, 48000, 2048);
  ASSERT_EQ(out.size(), in.size());
  for (size_t i = 0; i < in.size(); ++i) ASSERT_FLOAT_EQ(out[i], in[i]);
}

TEST(MonoResampler, ManyChannelsAndOddRates) {
  // Six channels, loud everywhere but channel 0, which is silent.
  std::vector<float> in(6 * 8000, 0.9f);
  for (size_t i = 0; i < in.size(); i += 6) in[i] = 0;
  auto r = MonoResampler::make(8000, 6);
  ASSERT_TRUE(r);
  auto out = convertInBlocks(*r, in, 6, 8000, 512);
  EXPECT_NEAR(static_cast<double>(out.size()), 48000, 200);
  for (float s : out) ASSERT_EQ(s, 0.0f);

  EXPECT_TRUE(MonoResampler::make(192000, 8));
  EXPECT_TRUE(MonoResampler::make(11025, 1));
  EXPECT_FALSE(MonoResampler::make(0, 2));
  EXPECT_FALSE(MonoResampler::make(44100, 0));
}

// Input with data in it is drained, not taken as its end.
TEST(StopSignal, EndsWithTheInputNotBefore) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::thread feeder([&] {
    std::string chunk(100000, 'x');
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(write(fds[1], chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
    }
    close(fds[1]);
  });
  StopSignal stop;
  EXPECT_EQ(stop.wait(fds[0]), Stop::InputEnded);
  feeder.join();
  close(fds[0]);
}

