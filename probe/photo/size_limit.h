#pragma once
#include <cstdint>
#include <string>

namespace kestrel {

// The stored picture's declared size above which it is refused before any
// decoding: beyond this, a file is a decompression bomb rather than a photo,
// and even a shrink-on-load decode would run for minutes.
inline constexpr int64_t kMaxSourcePixels = 1'000'000'000;
// The decoded, scaled picture is held in memory whole (4 bytes a pixel), so
// its size is bounded too: 100 megapixels is at most 400 MB.
inline constexpr int64_t kMaxPicturePixels = 100'000'000;

// The most pixels the longer side of the decoded picture may have: the
// picture's own longer side when that is below n, so it is never enlarged;
// n otherwise, and also when the size is not known (0).
int64_t sizeLimit(int64_t width, int64_t height, int64_t n);

// Whether width x height exceeds `most` pixels; sizes that are negative or
// whose product would overflow count as exceeding.
bool exceeds(int64_t width, int64_t height, int64_t most);

// "640×480", with the multiplication sign.
std::string sizeText(int64_t width, int64_t height);

}  // namespace kestrel
