// The photo service on libvips: header reading, one shrink-on-load decode,
// sRGB conversion and PNG writing.
#include <vips/vips8>

#include <algorithm>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/base/atomic_file.h"
#include "platform/photo/icc_description.h"
#include "platform/photo/photo.h"
#include "platform/photo/vips_start.h"
#include "platform/quiet_stderr.h"

namespace kestrel::photo {
namespace {

using vips::VImage;
using vips::VSource;

// The largest side libvips accepts as a thumbnail target.
constexpr int64_t kMaxSide = 10'000'000;

// A loader whose source is opened straight from the path, so that a name
// ending in "[...]" is never read as loader options.
VSource withLoader(VSource source) {
  loadersFor(source.get_source());
  return source;
}
VSource sourceOf(const std::string& path) { return withLoader(VSource::new_from_file(path.c_str())); }
VSource sourceOf(std::span<const uint8_t> bytes) {
  return withLoader(VSource::new_from_memory(bytes.data(), bytes.size()));
}

std::string profileOf(const VImage& image) {
  if (!image.get_typeof(VIPS_META_ICC_NAME)) return {};
  size_t size = 0;
  const void* data = image.get_blob(VIPS_META_ICC_NAME, &size);
  return profileDescription(data, size);
}

// To 8-bit sRGB with 3 bands, or 4 when the picture has alpha. An embedded
// profile is converted from; an untagged picture is taken as sRGB already, so
// its colours do not move, and grey or 16-bit pictures go through the
// ordinary colour-space conversion (an RGB import profile would not fit a
// one-band grey picture).
VImage toSrgb8(const VImage& in) {
  std::optional<VImage> out;
  if (in.get_typeof(VIPS_META_ICC_NAME)) {
    try {
      out = in.icc_transform("srgb", VImage::option()
                                         ->set("embedded", true)
                                         ->set("intent", VIPS_INTENT_RELATIVE)
                                         ->set("depth", 8));
    } catch (const vips::VError&) {
      vips_error_clear();  // a profile that does not fit the pixels: treat as untagged
    }
  }
  if (!out) out = in.colourspace(VIPS_INTERPRETATION_sRGB);
  VImage rgb = *out;
  if (rgb.format() != VIPS_FORMAT_UCHAR) rgb = rgb.cast(VIPS_FORMAT_UCHAR);
  const bool alpha = vips_image_hasalpha(rgb.get_image());
  const int bands = alpha ? 4 : 3;
  if (rgb.bands() > bands) rgb = rgb.extract_band(0, VImage::option()->set("n", bands));
  if (rgb.bands() < 3) rgb = rgb.colourspace(VIPS_INTERPRETATION_sRGB);
  if (rgb.bands() != 3 && rgb.bands() != 4) throw vips::VError("unexpected band count");
  return rgb;
}

class VipsPhoto final : public Photo {
 public:
  explicit VipsPhoto(VImage planned) : image_(std::move(planned)) {}

  int64_t width() const override { return image_.width(); }
  int64_t height() const override { return image_.height(); }
  bool hasAlpha() const override { return image_.bands() == 4; }

  // The decode runs here, once: the result is used twice (the opacity scan
  // and the PNG), and a second read of a sequential load would decode again.
  bool decode() override {
    if (decoded_) return true;
    const QuietStderr quiet;
    try {
      image_ = image_.copy_memory();
      decoded_ = true;
    } catch (const vips::VError&) {
      vips_error_clear();
    }
    return decoded_;
  }

  Picture picture() const override {
    if (!decoded_) return {};
    const bool alpha = image_.bands() == 4;
    return Picture{static_cast<const uint8_t*>(vips_image_get_data(image_.get_image())), image_.width(),
                   image_.height(), int64_t{image_.bands()} * image_.width(),
                   alpha ? PixelFormat::Rgba8 : PixelFormat::Rgb8};
  }

  // The PNG is made in memory, then written: a picture that fails to decode
  // half way leaves no file, and the file's own failures stay apart.
  PngWrite writePng(const std::string& path, bool alpha) const override {
    std::unique_ptr<VipsBlob, void (*)(VipsBlob*)> png(nullptr, [](VipsBlob* b) { vips_area_unref(&b->area); });
    {
      const QuietStderr quiet;
      try {
        VImage out = image_;
        if (!alpha && out.bands() == 4) out = out.extract_band(0, VImage::option()->set("n", 3));
        png.reset(out.pngsave_buffer(VImage::option()->set("strip", true)));
      } catch (const vips::VError&) {
        vips_error_clear();
        return decoded_ ? PngWrite::Unwritable : PngWrite::Undecodable;
      }
    }
    size_t size = 0;
    const auto* bytes = static_cast<const char*>(vips_blob_get(png.get(), &size));
    return writeAtomically(path, std::string_view(bytes, size)) ? PngWrite::Unwritable : PngWrite::Written;
  }

 private:
  VImage image_;
  bool decoded_ = false;
};

// The source is made inside, where its failure is caught with the others.
template <typename Input>
std::optional<Header> headerOf(const Input& input) {
  if (!startVips()) return std::nullopt;
  const QuietStderr quiet;
  try {
    const VImage image = VImage::new_from_source(
        sourceOf(input), "", VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
    Header h;
    h.width = image.width();
    h.height = image.height();
    h.orientation = static_cast<uint32_t>(vips_image_get_orientation(image.get_image()));
    h.profile = profileOf(image);
    h.frames = image.get_typeof(VIPS_META_N_PAGES) ? image.get_int(VIPS_META_N_PAGES) : 1;
    return h;
  } catch (const vips::VError&) {
    vips_error_clear();
    return std::nullopt;
  }
}

template <typename Input>
std::unique_ptr<Photo> photoOf(const Input& input, int64_t limit) {
  if (!startVips()) return nullptr;
  const int side = static_cast<int>(std::clamp<int64_t>(limit, 1, kMaxSide));
  const QuietStderr quiet;
  try {
    // Shrink-on-load, upright by the orientation, never enlarged. A truncated
    // or corrupt file must fail instead of decoding to grey; the thumbnail of
    // a source passes its own fail_on to nothing, so the loader is told
    // through its option string.
    const VImage thumbnail = VImage::thumbnail_source(sourceOf(input), side,
                                                      VImage::option()
                                                          ->set("height", side)
                                                          ->set("size", VIPS_SIZE_DOWN)
                                                          ->set("option_string", "fail_on=error"));
    return std::make_unique<VipsPhoto>(toSrgb8(thumbnail));
  } catch (const vips::VError&) {
    vips_error_clear();
    return nullptr;
  }
}

}  // namespace

std::optional<Header> readHeader(const std::string& path) { return headerOf(path); }
std::optional<Header> readHeader(std::span<const uint8_t> bytes) { return headerOf(bytes); }

std::unique_ptr<Photo> openPhoto(const std::string& path, int64_t limit) { return photoOf(path, limit); }
std::unique_ptr<Photo> openPhoto(std::span<const uint8_t> bytes, int64_t limit) {
  return photoOf(bytes, limit);
}

}  // namespace kestrel::photo
