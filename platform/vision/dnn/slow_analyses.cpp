#include "platform/vision/dnn/slow_analyses.h"

#include <algorithm>
#include <limits>
#include <vector>

#include <opencv2/imgproc.hpp>

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

cv::Mat peopleCells(const cv::Mat& matte, float level) {
  CV_Assert(matte.type() == CV_32F);
  cv::Mat cells(kChangeRows, kChangeColumns, CV_8U, cv::Scalar(0));
  std::vector<int> column(static_cast<size_t>(matte.cols));
  for (int x = 0; x < matte.cols; ++x) column[static_cast<size_t>(x)] = static_cast<int>(int64_t{x} * kChangeColumns / matte.cols);
  for (int y = 0; y < matte.rows; ++y) {
    const float* row = matte.ptr<float>(y);
    uint8_t* cellRow = cells.ptr<uint8_t>(static_cast<int>(int64_t{y} * kChangeRows / matte.rows));
    for (int x = 0; x < matte.cols; ++x)
      if (row[x] >= level) cellRow[column[static_cast<size_t>(x)]] = 255;
  }
  // The cells next to a person take the parts that move with them: limbs
  // that swing out, their shadow.
  cv::dilate(cells, cells, cv::Mat());
  return cells;
}

double meanChange(const cv::Mat& a, const cv::Mat& b, const cv::Mat& leftOut) {
  if (a.empty() || b.empty() || a.size() != b.size()) return std::numeric_limits<double>::infinity();
  if (leftOut.empty()) return cv::norm(a, b, cv::NORM_L1) / static_cast<double>(a.total());
  const cv::Mat counted = leftOut == 0;
  const int cells = cv::countNonZero(counted);
  return cells == 0 ? 0.0 : cv::norm(a, b, cv::NORM_L1, counted) / cells;
}

namespace {

// Whether something made `age` frames ago is due again: at its oldest, or
// once old enough when the picture has changed since (`change`, asked only then).
bool due(int64_t age, int minAge, int maxAge, const std::function<double()>& change) {
  return age >= maxAge || (age >= minAge && change() > kSalientChange);
}

// The change thumbnail's cells around a hand followed in a picture of size
// `picture`: the crop's side holds the hand, and what it holds lies about it.
cv::Rect cellsAround(const RotatedCrop& hand, const cv::Size& picture) {
  const auto cell = [](double v, int cells, int side) {
    return std::clamp(static_cast<int>(v * cells / side), 0, cells - 1);
  };
  const double reach = hand.side;
  const int x0 = cell(hand.centre.x - reach, kChangeColumns, picture.width);
  const int x1 = cell(hand.centre.x + reach, kChangeColumns, picture.width);
  const int y0 = cell(hand.centre.y - reach, kChangeRows, picture.height);
  const int y1 = cell(hand.centre.y + reach, kChangeRows, picture.height);
  return cv::Rect(cv::Point(x0, y0), cv::Point(x1 + 1, y1 + 1));
}

// The change since ISNet's map was made, away from the people of both frames
// but around the followed hands: what a hand takes up changes the picture
// there, among the person's own cells.
double changeAwayFromPeople(const SlowAnalyses& kept, const cv::Mat& thumb, const cv::Mat& people, bool hands) {
  cv::Mat leftOut = people.empty() ? cv::Mat() : people.clone();
  if (!kept.salientPeople.empty()) leftOut = leftOut.empty() ? kept.salientPeople.clone() : (leftOut | kept.salientPeople);
  if (!leftOut.empty() && hands && kept.picture.area() > 0)
    for (const RotatedCrop& hand : kept.handCrops) leftOut(cellsAround(hand, kept.picture)).setTo(0);
  return meanChange(kept.salientThumb, thumb, leftOut);
}

}  // namespace

bool salientMadeAnew(const SlowAnalyses* kept, const cv::Mat& thumb, const std::function<cv::Mat()>& people) {
  if (!kept || kept->salient.empty()) return true;
  const bool hands = handsInView(*kept);
  return due(kept->frame - kept->salientFrame, kSalientMinAge, hands ? kSalientMaxAge : kSalientMaxAgeNoHands,
             [&] { return changeAwayFromPeople(*kept, thumb, people(), hands); });
}

bool peopleMadeAnew(const SlowAnalyses* kept, const cv::Mat& thumb) {
  if (!kept || !kept->people) return true;
  const int64_t age = kept->frame - kept->peopleFrame;
  const int minAge = handsInView(*kept) ? kPeopleMinAge : kPeopleMinAgeNoHands;
  return due(age, minAge, kPeopleMaxAge, [&] { return meanChange(kept->peopleThumb, thumb); }) &&
         (kept->salientFrame != kept->frame || age > kPeopleMaxAge);
}

}  // namespace kestrel::vision::dnn
