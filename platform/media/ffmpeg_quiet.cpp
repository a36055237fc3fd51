#include "platform/media/ffmpeg_quiet.h"

extern "C" {
#include <libavutil/log.h>
}

namespace kestrel::media {

void silenceFfmpeg() { av_log_set_level(AV_LOG_QUIET); }

}  // namespace kestrel::media
