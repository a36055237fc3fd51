#include "tests/media/display_matrix.h"

#include <cstring>

extern "C" {
#include <libavformat/avformat.h>
}

namespace kestrel::test {

bool remuxWithMatrix(const std::string& in, const std::string& out,
                     const std::array<int32_t, 9>& matrix) {
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, in.c_str(), nullptr, nullptr) < 0) return false;
  bool ok = false;
  AVFormatContext* output = nullptr;
  AVPacket* packet = av_packet_alloc();
  if (avformat_find_stream_info(input, nullptr) >= 0 &&
      avformat_alloc_output_context2(&output, nullptr, "mp4", out.c_str()) >= 0) {
    ok = true;
    for (unsigned i = 0; i < input->nb_streams && ok; ++i) {
      AVStream* st = avformat_new_stream(output, nullptr);
      ok = st && avcodec_parameters_copy(st->codecpar, input->streams[i]->codecpar) >= 0;
      if (!ok) break;
      st->codecpar->codec_tag = 0;
      st->time_base = input->streams[i]->time_base;
      if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
        uint8_t* side = av_stream_new_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, sizeof matrix);
        ok = side != nullptr;
        if (ok) std::memcpy(side, matrix.data(), sizeof matrix);
      }
    }
    ok = ok && avio_open(&output->pb, out.c_str(), AVIO_FLAG_WRITE) >= 0 &&
         avformat_write_header(output, nullptr) >= 0;
    while (ok && av_read_frame(input, packet) >= 0) {
      AVStream* from = input->streams[packet->stream_index];
      AVStream* to = output->streams[packet->stream_index];
      av_packet_rescale_ts(packet, from->time_base, to->time_base);
      packet->pos = -1;
      ok = av_interleaved_write_frame(output, packet) >= 0;
      av_packet_unref(packet);
    }
    ok = ok && av_write_trailer(output) >= 0;
    if (output->pb) avio_closep(&output->pb);
  }
  av_packet_free(&packet);
  avformat_free_context(output);
  avformat_close_input(&input);
  return ok;
}

}  // namespace kestrel::test
