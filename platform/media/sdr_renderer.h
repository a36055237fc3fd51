#pragma once
// Decoded frames rendered as standard-dynamic-range Rec. 709, whatever the
// source's colour (PQ and HLG sources are tone-mapped): kestrel-tone's renderer.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/media/video_source.h"

namespace kestrel::media {

// How rendered frames are laid out, rows top first.
enum class SdrLayout {
  Bgra8,     // 4 bytes a pixel: blue, green, red, alpha
  RgbaHalf,  // 8 bytes a pixel: red, green, blue, alpha as little-endian half floats
};

// A view of a rendered frame; valid until the next render.
struct SdrPicture {
  const uint8_t* data = nullptr;
  int64_t width = 0;
  int64_t height = 0;
  int64_t stride = 0;  // bytes per row
};

// Keeps its filter chains from one frame to the next while they fit.
class SdrRenderer {
 public:
  SdrRenderer();
  ~SdrRenderer();
  SdrRenderer(const SdrRenderer&) = delete;
  SdrRenderer& operator=(const SdrRenderer&) = delete;

  // The source's current frame; null data, with error() (the library's
  // description), when it cannot be rendered.
  SdrPicture render(const VideoSource& source, SdrLayout layout);
  const std::string& error() const;

  struct Chains;  // the library's filter graphs

 private:
  std::unique_ptr<Chains> chains_;
};

}  // namespace kestrel::media
