#pragma once
// zscale's library takes subsampled pictures only in whole chroma blocks, so
// a 4:2:0 frame of odd width or height is refused. Such a frame is rendered
// from a copy grown to whole blocks, its last column and row repeated, and
// the rendered picture is read at the frame's own size.
extern "C" {
#include <libavutil/frame.h>
}

namespace kestrel::media {

// Whether the frame's size is not a whole number of its chroma blocks.
bool partialChromaBlocks(const AVFrame& frame);

// `out` becomes a copy of `in` grown to whole chroma blocks, the added
// columns and rows repeating the last ones, with `in`'s properties and colour
// fields. 0, or the library's error code.
int growToChromaBlocks(const AVFrame& in, AVFrame& out);

}  // namespace kestrel::media
