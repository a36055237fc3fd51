#pragma once
#include <cstdint>
#include <type_traits>

namespace kestrel {

// How a picture's pixels are laid out in their bytes.
enum class PixelFormat : uint8_t {
  Bgra8,     // blue, green, red, alpha: the frames we decode, stream and analyse
  Grey8,     // one byte: masks, mattes and label maps
  Rgb8,      // red, green, blue
  Bgr8,      // blue, green, red: what the models read
  Rgba8,     // red, green, blue, straight (not premultiplied) alpha
  RgbaHalf,  // red, green, blue, alpha as little-endian half floats
};

inline constexpr int64_t bytesPerPixel(PixelFormat format) {
  switch (format) {
    case PixelFormat::Grey8: return 1;
    case PixelFormat::Rgb8:
    case PixelFormat::Bgr8: return 3;
    case PixelFormat::RgbaHalf: return 8;
    default: return 4;
  }
}

// A view of pixels: top row first, `stride` bytes per row (at least width x
// bytesPerPixel(format)). The owner keeps the bytes alive. `Byte` is
// `const uint8_t` for a view that only reads (Picture), `uint8_t` for one that
// writes (MutablePicture), which also reads as a Picture.
template <class Byte>
struct PictureView {
  Byte* data = nullptr;
  int64_t width = 0;
  int64_t height = 0;
  int64_t stride = 0;
  PixelFormat format = PixelFormat::Bgra8;

  Byte* row(int64_t y) const { return data + y * stride; }
  operator PictureView<const uint8_t>() const
    requires(!std::is_const_v<Byte>)
  {
    return {data, width, height, stride, format};
  }
};
using Picture = PictureView<const uint8_t>;
using MutablePicture = PictureView<uint8_t>;

// One byte a pixel in packed rows: the masks and maps the cutout works on.
template <class Byte>
PictureView<Byte> greyPlane(Byte* data, int64_t width, int64_t height) {
  return {data, width, height, width, PixelFormat::Grey8};
}

// Bytes per row of a BGRA picture `width` pixels wide that we allocate: rounded
// up to 64 so every row starts on a cache line and vector loads stay aligned.
inline constexpr int64_t bgraStride(int64_t width) { return (4 * width + 63) / 64 * 64; }

}  // namespace kestrel
