#include "platform/media/ffmpeg_bgra.h"

#include "platform/media/ffmpeg_colour.h"

namespace kestrel::media {
namespace {

// The library's name of a YCbCr matrix; -1 for one it has none for.
int swsColorspace(AVColorSpace matrix) {
  switch (matrix) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_FCC: return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return SWS_CS_ITU601;
    default: return -1;
  }
}

int swsColorspace(const AVFrame& f) {
  const int known = swsColorspace(f.colorspace);
  return known >= 0 ? known : swsColorspace(untaggedMatrix(f.height));
}

}  // namespace

bool setUpScaler(ScalerHandle& scaler, const AVFrame& f, int srcWidth, int srcHeight, int width,
                 int height, AVPixelFormat to, int flags) {
  if (srcWidth <= 0 || srcHeight <= 0 || width <= 0 || height <= 0 || f.format < 0) return false;
  scaler.reset(sws_getCachedContext(scaler.release(), srcWidth, srcHeight,
                                    static_cast<AVPixelFormat>(f.format), width, height, to, flags,
                                    nullptr, nullptr, nullptr));
  if (!scaler) return false;
  const int full = f.color_range == AVCOL_RANGE_JPEG || f.format == AV_PIX_FMT_YUVJ420P ||
                   f.format == AV_PIX_FMT_YUVJ422P || f.format == AV_PIX_FMT_YUVJ444P;
  sws_setColorspaceDetails(scaler.get(), sws_getCoefficients(swsColorspace(f)), full,
                           sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
  return true;
}

}  // namespace kestrel::media
