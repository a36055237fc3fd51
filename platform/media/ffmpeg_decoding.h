#pragma once
// Decoding one stream of an opened file, shared by the video readers.
#include "platform/media/ffmpeg_handles.h"

namespace kestrel::media {

// Opens a decoder for the stream, with as many threads as the machine has.
// 0, or the library's error code.
int openDecoder(const AVStream& stream, const AVCodec* decoder, CodecHandle& codec);

// Reads packets of the stream into the decoder until a frame comes out, and
// drains the decoder at the end of the file. 0 with the frame, AVERROR_EOF at
// the end, or the library's error code. `draining` starts false, and again
// after every seek.
int receiveFrame(AVFormatContext& format, AVCodecContext& codec, int stream, AVPacket& packet,
                 AVFrame& frame, bool& draining);

}  // namespace kestrel::media
