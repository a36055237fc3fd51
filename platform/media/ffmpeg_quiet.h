#pragma once

namespace kestrel::media {

// FFmpeg writes nothing on standard error for this process.
void silenceFfmpeg();

}  // namespace kestrel::media
