#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/picture.h"

namespace kestrel::photo {

// What a picture's first image says about itself, read from its header
// without decoding any pixels.
struct Header {
  int64_t width = 0;  // stored size, before the orientation is applied
  int64_t height = 0;
  uint32_t orientation = 1;  // EXIF-style, 1 to 8; 1 when the file has none
  std::string profile;       // description of the embedded colour profile; empty when none
  int64_t frames = 0;        // images (pages, animation frames) in the file
};

// How writing a PNG ended.
enum class PngWrite { Written, Undecodable, Unwritable };

// A picture being decoded: its upright size at the reduced scale is known
// before any pixel is decoded.
class Photo {
 public:
  virtual ~Photo() = default;
  virtual int64_t width() const = 0;
  virtual int64_t height() const = 0;
  // Whether the picture has an alpha channel; without one it is opaque.
  virtual bool hasAlpha() const = 0;
  // Decodes the pixels into memory, once; false when the file is truncated or
  // corrupt, or the pixels cannot be held.
  virtual bool decode() = 0;
  // The decoded picture in 8-bit sRGB, PixelFormat::Rgb8 or, with an alpha
  // channel, PixelFormat::Rgba8; valid while the Photo lives. Null data
  // before a successful decode().
  virtual Picture picture() const = 0;
  // Writes the picture as a PNG, with its alpha channel only when `alpha` is
  // set. Without decode() first, the decoding runs here, alongside the
  // compression, and its failure is Undecodable. The file appears complete
  // or not at all: it is written beside `path` and renamed into place.
  virtual PngWrite writePng(const std::string& path, bool alpha) const = 0;
};

// Reads the header of the file's first image; nothing when the file cannot
// be read as a picture of a known format.
std::optional<Header> readHeader(const std::string& path);

// Prepares one decode of the first image at reduced size: upright by its
// orientation, converted to sRGB, its longer side at most `limit` and never
// enlarged. Nothing when the picture cannot be opened for decoding.
std::unique_ptr<Photo> openPhoto(const std::string& path, int64_t limit);

// The same two for a file's bytes in memory, which must outlive the Photo.
std::optional<Header> readHeader(std::span<const uint8_t> bytes);
std::unique_ptr<Photo> openPhoto(std::span<const uint8_t> bytes, int64_t limit);

}  // namespace kestrel::photo
