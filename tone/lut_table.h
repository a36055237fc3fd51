#pragma once
// The .cube text of the LUT builder, measured from half-float RGBA frames.
#include <cstdint>
#include <string>

namespace kestrel::tone {

// "LUT_3D_SIZE N" and the two domain lines.
std::string lutHeader(int64_t n);

// Whether every pixel the n x n patches of p pixels are measured at lies
// inside a width x height frame.
bool gridFits(int64_t n, int64_t p, int64_t width, int64_t height);

// Appends one "%.6f %.6f %.6f\n" line per patch of one frame, patch rows from
// the top, patches from the left: the mean of the patch's middle half in each
// direction, summed in single precision, clamped to 0..1. `base` holds
// little-endian half RGBA pixels, 8 bytes each, `stride` bytes a row.
void appendFrameEntries(std::string& text, const uint8_t* base, int64_t stride, int64_t n,
                        int64_t p);

}  // namespace kestrel::tone
