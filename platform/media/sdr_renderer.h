#pragma once
// Decoded frames rendered as standard-dynamic-range Rec. 709, whatever the
// source's colour (PQ and HLG sources are tone-mapped): kestrel-tone's renderer.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/media/video_source.h"
#include "platform/picture.h"

namespace kestrel::media {

// Keeps its filter chains from one frame to the next while they fit.
class SdrRenderer {
 public:
  SdrRenderer();
  ~SdrRenderer();
  SdrRenderer(const SdrRenderer&) = delete;
  SdrRenderer& operator=(const SdrRenderer&) = delete;

  // The source's current frame in `format`, PixelFormat::Bgra8 or
  // PixelFormat::RgbaHalf; valid until the next render. Null data, with
  // error() (the library's description), when it cannot be rendered.
  Picture render(const VideoSource& source, PixelFormat format);
  const std::string& error() const;

  struct Chains;  // the library's filter graphs

 private:
  std::unique_ptr<Chains> chains_;
};

}  // namespace kestrel::media
