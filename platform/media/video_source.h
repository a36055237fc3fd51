#pragma once
// The first video track of a file, decoded frame by frame: what both programs
// read video through. It hands out decoded frames; the renderers turn them
// into pixels (video_frame.h: BGRA for the analysis; sdr_renderer.h: SDR
// Rec. 709 for kestrel-tone).
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/media/media_time.h"
#include "platform/media/video_frame.h"

struct AVStream;

namespace kestrel::media {

// What the first video track says about itself before decoding.
struct Track {
  int64_t width = 0;   // stored picture size, before any display rotation
  int64_t height = 0;
  // The first row of the display matrix (identity when absent): the cosine and
  // sine of the angle the picture is turned by for display.
  double displayCos = 1, displaySin = 0;
};

enum class OpenStatus {
  Ok,
  CantOpen,      // unreadable or not media
  NoVideoTrack,  // media without a video track
  NoDecoder,     // a video track no decoder here can read
  CantDecode,    // its decoder does not start
};

// Decodes in decoding-output order. Standard error is silenced while a
// source lives: some decoders' libraries write to it on their own.
class VideoSource {
 public:
  virtual ~VideoSource() = default;
  virtual const Track& track() const = 0;
  // Only before the first next(): skips ahead to the last key frame at or
  // before the time, so that next() still yields every frame from that time
  // on. Without a usable index it stays at the start.
  virtual void seekBefore(double seconds) = 0;
  // Advances to the next decoded frame; false at the end of the track or on failure.
  virtual bool next() = 0;
  virtual MediaTime time() const = 0;
  // The current frame kept by reference, still valid after next(); empty
  // when it has no picture that can be converted.
  virtual VideoFrame frame() const = 0;
  // After next() returned false: whether decoding failed, and why.
  virtual bool failed() const = 0;
  virtual std::string error() const = 0;
  // For the renderers: the current decoded frame, and its stream.
  virtual const AVFrame& decoded() const = 0;
  virtual const AVStream& stream() const = 0;
};

struct OpenResult {
  OpenStatus status = OpenStatus::CantOpen;
  std::string error;  // the library's text, but for NoVideoTrack
  std::unique_ptr<VideoSource> source;
};

OpenResult openVideo(const std::string& path);
// The same for a file's bytes in memory, which must outlive the source.
OpenResult openVideo(std::span<const uint8_t> bytes);

}  // namespace kestrel::media
