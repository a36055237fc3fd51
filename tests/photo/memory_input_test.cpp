// A picture's bytes in memory read exactly as its file is: the entry the
// fuzz target uses must not be a decoder of its own.
#include <gtest/gtest.h>

#include <span>
#include <utility>

#include "platform/photo/photo.h"
#include "tests/support/process.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;
using namespace kestrel::photo;

namespace {

std::span<const uint8_t> bytesOf(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// The decoded pixels; a failed decode fails the test (two failures would
// otherwise compare equal).
std::vector<uint8_t> pixelsOf(Photo& p) {
  EXPECT_TRUE(p.decode());
  const kestrel::Picture px = p.picture();
  EXPECT_TRUE(px.data && px.width == p.width() && px.height == p.height());
  if (!px.data) return {};
  return {px.data, px.data + px.stride * px.height};
}

}  // namespace

TEST(PhotoFromMemory, SameHeaderAndPixelsAsTheFile) {
  Scratch s;
  std::string log;
  // A rotated JPEG and a PNG with alpha: orientation and bands come through.
  ASSERT_TRUE(shell("cd '" + s.dir() + "' && vips gaussnoise n.v 300 200 && vips cast n.v n8.v uchar && "
                    "vips copy n8.v r.jpg && exiftool -q -overwrite_original -Orientation=6 -n r.jpg && "
                    "vips bandjoin_const n8.v a.v 128 && vips colourspace a.v a.png srgb",
                    &log))
      << log;
  for (const auto& [name, bands] : {std::pair{"r.jpg", 3}, std::pair{"a.png", 4}}) {
    const std::string bytes = readFile(s.path(name));
    const auto fromFile = readHeader(s.path(name));
    const auto fromMemory = readHeader(bytesOf(bytes));
    ASSERT_TRUE(fromFile && fromMemory) << name;
    EXPECT_EQ(fromMemory->width, fromFile->width) << name;
    EXPECT_EQ(fromMemory->height, fromFile->height) << name;
    EXPECT_EQ(fromMemory->orientation, fromFile->orientation) << name;
    EXPECT_EQ(fromMemory->frames, fromFile->frames) << name;

    auto file = openPhoto(s.path(name), 64);
    auto memory = openPhoto(bytesOf(bytes), 64);
    ASSERT_TRUE(file && memory) << name;
    EXPECT_EQ(memory->width(), file->width()) << name;
    EXPECT_EQ(memory->height(), file->height()) << name;
    const std::vector<uint8_t> fromMemoryPixels = pixelsOf(*memory), fromFilePixels = pixelsOf(*file);
    EXPECT_EQ(kestrel::bytesPerPixel(memory->picture().format), bands) << name;
    EXPECT_EQ(kestrel::bytesPerPixel(file->picture().format), bands) << name;
    EXPECT_EQ(fromMemoryPixels.size(), static_cast<size_t>(file->width() * file->height() * bands)) << name;
    EXPECT_EQ(fromMemoryPixels, fromFilePixels) << name;
  }
  EXPECT_EQ(readHeader(s.path("r.jpg"))->orientation, 6u);
  EXPECT_EQ(openPhoto(bytesOf(readFile(s.path("r.jpg"))), 64)->width(), 43);  // upright: 200 x 300

  // Cut short or not a picture: refused from memory as from the file.
  const std::string jpeg = readFile(s.path("r.jpg"));
  EXPECT_FALSE(readHeader(bytesOf(std::string(300, 'x'))));
  EXPECT_FALSE(readHeader(bytesOf(std::string())));
  auto cut = openPhoto(bytesOf(jpeg.substr(0, jpeg.size() / 2)), 64);
  EXPECT_TRUE(!cut || !cut->decode());
}
