#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/media/media_time.h"
#include "platform/media/video_frame.h"
#include "platform/picture.h"

namespace kestrel::media {

// What the first video track says about itself before decoding.
struct Track {
  int64_t width = 0;   // stored picture size, before any display rotation
  int64_t height = 0;
  // The first row of the display matrix (identity when absent): the cosine and
  // sine of the angle the picture is turned by for display.
  double displayCos = 1, displaySin = 0;
};

enum class OpenStatus { Ok, NoVideoTrack, CantOpen, CantDecode };

struct OpenResult;

// Decodes the first video track of a file frame by frame, in decoding-output
// order. Only frames the caller asks for are converted to BGRA.
class VideoReader {
 public:
  virtual ~VideoReader() = default;
  virtual const Track& track() const = 0;
  // Advances to the next decoded frame; false at the end of the track or on failure.
  virtual bool next() = 0;
  virtual MediaTime time() const = 0;
  // The current frame as 8-bit BGRA; data is null when it cannot be converted.
  // The view stays valid until the next call of next() or bgra().
  virtual Picture bgra() = 0;
  // The current frame kept by reference, still valid after next(); empty
  // when it has no picture that can be converted.
  virtual VideoFrame frame() = 0;
  // After next() returned false: whether decoding failed, and why.
  virtual bool failed() const = 0;
  virtual std::string error() const = 0;
};

struct OpenResult {
  OpenStatus status = OpenStatus::CantOpen;
  std::string error;  // the library's text for CantOpen and CantDecode
  std::unique_ptr<VideoReader> reader;
};

OpenResult openVideo(const std::string& path);
// The same for a file's bytes in memory, which must outlive the reader.
OpenResult openVideo(std::span<const uint8_t> bytes);

}  // namespace kestrel::media
