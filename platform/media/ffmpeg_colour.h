#pragma once
// The one colour rule both renderers follow, so that a file looks the same
// in both programs.
extern "C" {
#include <libavutil/pixfmt.h>
}

namespace kestrel::media {

// The YCbCr matrix of video that names none, as players read it: BT.601
// below 720 lines (standard definition), BT.709 from 720 lines up.
inline AVColorSpace untaggedMatrix(int height) {
  return height < 720 ? AVCOL_SPC_SMPTE170M : AVCOL_SPC_BT709;
}

}  // namespace kestrel::media
