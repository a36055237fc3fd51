#pragma once
// Opening a file and decoding one of its streams: the video source's steps.
// Standard error is the caller's to silence.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/frame_limit.h"
#include "platform/media/ffmpeg_handles.h"

namespace kestrel::media {

// A stream declaring a side over kMaxFrameSide is refused before any frame
// is allocated; the decoder refuses frames over kMaxFramePixels that a stream
// grows to on the way, and receiveFrame those with a side over the limit.

// Why the stream's declared picture size cannot be decoded, or nothing.
std::optional<std::string> oversized(const AVCodecParameters& parameters);

// Opens a plain local file and reads its header: no protocol prefixes, and
// no playlist or list file that reaches beyond local files. 0, or the
// library's error code.
int openInput(const std::string& path, FormatHandle& format);

// Bytes in memory read as a file through an AVIOContext. It must outlive the
// format context opened on it.
class MemoryIo {
 public:
  explicit MemoryIo(std::span<const uint8_t> bytes);
  ~MemoryIo();
  MemoryIo(const MemoryIo&) = delete;
  MemoryIo& operator=(const MemoryIo&) = delete;
  AVIOContext* context() const { return io_; }

 private:
  static int read(void* self, uint8_t* buffer, int size);
  static int64_t seek(void* self, int64_t offset, int whence);

  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
  AVIOContext* io_ = nullptr;
};

// Opens bytes in memory as openInput opens a file: the same probing, with
// the same rule for files a list may name.
int openInput(MemoryIo& io, FormatHandle& format);

// Reads the stream information of an opened input, decoding a few frames of
// every stream that needs it. 0, or the library's error code.
int readStreamInfo(AVFormatContext& format);

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
