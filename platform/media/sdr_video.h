#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace kestrel::media {

// How rendered frames are laid out, rows top first.
enum class SdrLayout {
  Bgra8,     // 4 bytes a pixel: blue, green, red, alpha
  RgbaHalf,  // 8 bytes a pixel: red, green, blue, alpha as little-endian half floats
};

// A view of a rendered frame; valid until the next call on the video.
struct SdrPicture {
  const uint8_t* data = nullptr;
  int64_t width = 0;
  int64_t height = 0;
  int64_t stride = 0;  // bytes per row
};

// The first video track of a file, decoded in decoding-output order and
// rendered on request as standard-dynamic-range Rec. 709 (PQ and HLG sources
// are tone-mapped), whatever the source's colour.
class SdrVideo {
 public:
  virtual ~SdrVideo() = default;
  // Opens the decoder; false, with error(), when it cannot start.
  virtual bool start() = 0;
  // Only after start() and before the first next(): skips ahead to the last
  // key frame at or before the time, so that next() still yields every frame
  // from that time on. Without a usable index it stays at the start.
  virtual void seekBefore(double seconds) = 0;
  // Advances to the next decoded frame; false at the end or on failure.
  virtual bool next() = 0;
  // The current frame's presentation time in seconds; NaN when it has none.
  virtual double seconds() const = 0;
  // The current frame rendered; null data, with error(), when it cannot be.
  virtual SdrPicture render(SdrLayout layout) = 0;
  // After start(), next() or render() failed: the library's description.
  virtual bool failed() const = 0;
  virtual std::string error() const = 0;
};

enum class SdrOpenStatus {
  Ok,
  NoPicture,  // unreadable, not media, or without a video track
  CantRead,   // a video track no decoder here can read
};

struct SdrOpenResult {
  SdrOpenStatus status = SdrOpenStatus::NoPicture;
  std::unique_ptr<SdrVideo> video;
};

SdrOpenResult openSdrVideo(const std::string& path);

}  // namespace kestrel::media
