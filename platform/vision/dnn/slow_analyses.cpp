#include "platform/vision/dnn/slow_analyses.h"

namespace kestrel::vision {

// Frames before the first request are not counted: that request starts the
// analyses at frame 0.
void StreamSession::beginFrame() {
  if (carried) ++carried->frame;
}

}  // namespace kestrel::vision

namespace kestrel::vision::dnn {

SlowAnalyses* carriedAnalyses(StreamSession* session, const cv::Size& picture) {
  if (!session) return nullptr;
  if (!session->carried || session->carried->picture != picture) {
    session->carried = std::make_shared<SlowAnalyses>();
    session->carried->picture = picture;
    session->carried->frame = 0;
  }
  return session->carried.get();
}

bool madeAnew(const SlowAnalyses* kept, bool have, int turn) {
  return !kept || !have || kept->frame % kRefreshEvery == turn;
}

}  // namespace kestrel::vision::dnn
