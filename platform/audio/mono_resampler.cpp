#include "platform/audio/mono_resampler.h"

#include <climits>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

namespace kestrel::audio {
namespace {

// Layouts by channel count alone: positions do not matter, the matrix picks channel 0.
AVChannelLayout layoutOf(uint32_t channels) {
  AVChannelLayout layout{};
  layout.order = AV_CHANNEL_ORDER_UNSPEC;
  layout.nb_channels = static_cast<int>(channels);
  return layout;
}

}  // namespace

void MonoResampler::Freer::operator()(SwrContext* c) const { swr_free(&c); }

std::optional<MonoResampler> MonoResampler::make(uint32_t inputRate, uint32_t inputChannels) {
  if (inputRate == 0 || inputRate > INT_MAX || inputChannels == 0 || inputChannels > 64) return std::nullopt;
  av_log_set_level(AV_LOG_QUIET);
  AVChannelLayout in = layoutOf(inputChannels), out = layoutOf(1);
  SwrContext* raw = nullptr;
  int made = swr_alloc_set_opts2(&raw, &out, AV_SAMPLE_FMT_FLT, OUTPUT_RATE, &in, AV_SAMPLE_FMT_FLT,
                                 static_cast<int>(inputRate), 0, nullptr);
  MonoResampler resampler(raw);
  if (made < 0 || !raw) return std::nullopt;
  if (inputChannels > 1) {
    // Output channel 0 takes input channel 0 alone: no mixing of the others.
    std::vector<double> matrix(inputChannels, 0.0);
    matrix[0] = 1.0;
    if (swr_set_matrix(raw, matrix.data(), static_cast<int>(inputChannels)) < 0) return std::nullopt;
  }
  if (swr_init(raw) < 0) return std::nullopt;
  return resampler;
}

size_t MonoResampler::convert(const float* input, size_t frames, float* output, size_t capacity) {
  // No input at all would ask the resampler to flush its history.
  if (frames == 0 || frames > INT_MAX || capacity > INT_MAX) return 0;
  const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(input)};
  uint8_t* out[1] = {reinterpret_cast<uint8_t*>(output)};
  int n = swr_convert(context_.get(), out, static_cast<int>(capacity), in, static_cast<int>(frames));
  return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace kestrel::audio
