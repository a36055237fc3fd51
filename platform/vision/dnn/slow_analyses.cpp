#include "platform/vision/dnn/slow_analyses.h"

namespace kestrel::vision::dnn {

SlowAnalyses* nextFrame(StreamSession* session, const cv::Size& picture) {
  if (!session) return nullptr;
  if (!session->slow || session->slow->picture != picture) {
    session->slow = std::make_shared<SlowAnalyses>();
    session->slow->picture = picture;
  }
  ++session->slow->frame;
  return session->slow.get();
}

SlowAnalyses* currentFrame(StreamSession* session, const cv::Size& picture) {
  if (!session || !session->slow || session->slow->picture != picture) return nullptr;
  return session->slow.get();
}

bool madeAnew(const SlowAnalyses* kept, bool have, int turn) {
  return !kept || !have || kept->frame % kRefreshEvery == turn;
}

}  // namespace kestrel::vision::dnn
