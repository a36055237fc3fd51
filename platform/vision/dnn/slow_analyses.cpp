#include "platform/vision/dnn/slow_analyses.h"

#include <limits>

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

bool justBefore(const SlowAnalyses& kept, int64_t last) { return last >= 0 && last == kept.frame - 1; }

bool handsInView(const SlowAnalyses& kept) {
  return kept.handsFrame >= 0 && kept.frame - kept.handsFrame <= kRefreshEvery && !kept.handCrops.empty();
}

FaceSearch faceSearch(const SlowAnalyses& kept, size_t followed, bool lost) {
  if (!justBefore(kept, kept.facesFrame) || lost || kept.frame % kFaceSearchEvery == kFaceSearchTurn)
    return FaceSearch::Everywhere;
  if (followed == 0 && kept.frame % kNoFaceSearchEvery == kFaceSearchTurn) return FaceSearch::WholePicture;
  return FaceSearch::None;
}

std::vector<RotatedCrop> handCropsFor(const SlowAnalyses* kept, const std::function<std::vector<RotatedCrop>()>& palms) {
  if (!kept || !justBefore(*kept, kept->handsFrame) || kept->frame % kRefreshEvery == kPalmsTurn) return palms();
  return kept->handCrops;
}

void keepHandCrops(SlowAnalyses* kept, std::vector<RotatedCrop> next) {
  if (!kept) return;
  kept->handCrops = std::move(next);
  kept->handsFrame = kept->frame;
}

cv::Mat changeThumbnail(const cv::Mat& bgr) {
  CV_Assert(bgr.type() == CV_8UC3 && !bgr.empty());
  constexpr int kGrid = 4;  // samples a cell, each way
  cv::Mat thumb(kChangeRows, kChangeColumns, CV_8U);
  for (int cy = 0; cy < kChangeRows; ++cy)
    for (int cx = 0; cx < kChangeColumns; ++cx) {
      int sum = 0;
      for (int sy = 0; sy < kGrid; ++sy) {
        const int y = static_cast<int>((2 * (cy * kGrid + sy) + 1) * int64_t{bgr.rows} / (2 * kChangeRows * kGrid));
        const uint8_t* row = bgr.ptr<uint8_t>(y);
        for (int sx = 0; sx < kGrid; ++sx) {
          const int x = static_cast<int>((2 * (cx * kGrid + sx) + 1) * int64_t{bgr.cols} / (2 * kChangeColumns * kGrid));
          const uint8_t* p = row + 3 * x;
          sum += p[0] + 2 * p[1] + p[2];  // grey, green weighing as blue and red together
        }
      }
      thumb.at<uint8_t>(cy, cx) = static_cast<uint8_t>((sum + 2 * kGrid * kGrid) / (4 * kGrid * kGrid));
    }
  return thumb;
}

double meanChange(const cv::Mat& a, const cv::Mat& b) {
  if (a.empty() || b.empty() || a.size() != b.size()) return std::numeric_limits<double>::infinity();
  return cv::norm(a, b, cv::NORM_L1) / static_cast<double>(a.total());
}

namespace {

// Whether something made `age` frames ago on `then`'s picture is due again:
// at its oldest, or once old enough when the picture has changed since.
bool due(int64_t age, int minAge, int maxAge, const cv::Mat& then, const cv::Mat& now) {
  return age >= maxAge || (age >= minAge && meanChange(then, now) > kSalientChange);
}

}  // namespace

bool salientMadeAnew(const SlowAnalyses* kept, const cv::Mat& thumb) {
  if (!kept || kept->salient.empty()) return true;
  return due(kept->frame - kept->salientFrame, kSalientMinAge,
             handsInView(*kept) ? kSalientMaxAge : kSalientMaxAgeNoHands, kept->salientThumb, thumb);
}

bool peopleMadeAnew(const SlowAnalyses* kept, const cv::Mat& thumb) {
  if (!kept || !kept->people) return true;
  const int64_t age = kept->frame - kept->peopleFrame;
  return due(age, kPeopleMinAge, kPeopleMaxAge, kept->peopleThumb, thumb) &&
         (kept->salientFrame != kept->frame || age > kPeopleMaxAge);
}

}  // namespace kestrel::vision::dnn
