#pragma once
// What a stream's later frames take over from earlier ones. ISNet's salient
// map (a large share of a cutout frame's work) and the person boxes that split
// the matte into people change little from one frame of a live stream to the
// next. The map is made anew when the picture has changed since the frame it
// was made on (a thumbnail's mean grey difference away from the people, whom
// the matte makes anew on every frame), no sooner than
// kSalientMinAge frames after it, or when it is kSalientMaxAge frames old
// (older while no hand is in view): what it shows, such as a held object,
// lags the picture by at most kSalientMaxAge - 1 frames after the hand is
// found. The person boxes, and the held things found with
// them, follow the same change measure on bounds of their own, and wait a
// frame rather than run on ISNet's. The person matte itself is made on every
// frame. The held step's hands are found by the palm detector every third
// frame, on the third turn; in between each hand is followed from the crop
// its joints gave on the frame before, as long as the landmark model still
// sees it there. Faces are followed the same way by their mesh; the face
// detector looks for new ones every twelfth frame, every sixth while none is
// followed, and at once when a followed face is lost.
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "platform/vision/dnn/detection_geometry.h"
#include "platform/vision/dnn/face_geometry.h"
#include "platform/vision/vision.h"

namespace kestrel::vision {

struct SlowAnalyses {
  int64_t frame = -1;  // the frame being analysed, counted from 0
  cv::Size picture;    // the size the kept analyses were made at
  cv::Mat salient;     // ISNet's map; empty until made
  cv::Mat salientThumb;          // the change thumbnail of the frame the map was made on
  cv::Mat salientPeople;         // which of its cells showed people (peopleCells)
  int64_t salientFrame = -1;     // that frame
  std::optional<std::vector<dnn::Corners>> people;  // picture pixels
  std::vector<dnn::Corners> heldThings;             // picture pixels, made with the people
  cv::Mat peopleThumb;                              // the change thumbnail of the boxes' frame
  int64_t peopleFrame = -1;                         // that frame
  // Where the next frame looks for the hands of frame `handsFrame`.
  std::vector<dnn::RotatedCrop> handCrops;
  int64_t handsFrame = -1;
  // Which of the main person's hand windows the next palm search looks through.
  size_t handWindowTurn = 0;
  // The faces of frame `facesFrame`, which the next frame follows.
  std::vector<dnn::FaceTrack> faceTracks;
  int64_t facesFrame = -1;
};

}  // namespace kestrel::vision

namespace kestrel::vision::dnn {

constexpr int kRefreshEvery = 3;
constexpr int kPalmsTurn = 2;
// The face detector's search for new faces: a face that comes into view is
// found within 12 frames, half a second at 25 frames a second, for about a
// twelfth of the detector's cost a frame. While no face is followed the
// detector looks at the whole picture every sixth frame on the same turn: a
// face is found within 6 frames (a quarter of a second), where looking on
// every frame of a faceless street clip cost 3 ms a frame, and on every third
// 0.7 ms more than on every sixth. The closer views of a large picture (two
// more runs at 1280 x 720) keep the twelve-frame turn.
constexpr int kFaceSearchEvery = 12;
constexpr int kFaceSearchTurn = 1;
constexpr int kNoFaceSearchEvery = 2 * kRefreshEvery;
static_assert(kFaceSearchEvery % kNoFaceSearchEvery == 0);

// ISNet's map is made anew when the picture's change thumbnail differs from
// the map's frame's by more than kSalientChange grey levels on average, once
// the map is kSalientMinAge frames old, and on its kSalientMaxAge-th frame at
// the latest while hands are in view (kSalientMaxAgeNoHands-th while none is:
// only a hand holds things, and the held step starts from the hands). The
// change is measured away from the people and around the followed hands
// (salientMadeAnew). What the map adds, such as a held object, lags the
// picture by at most 2 frames while the picture changes there, and by at most
// 11 (0.37 s at 30 frames a second) after the hand holding it is found while
// it changes by less than the measure sees (on a still picture, one frame in
// twelve where one in six cost 3 ms a frame more; without hands one in
// forty-eight, as on Debian's street clip, where one in twelve cost 2.5 ms a
// frame more and one in twenty-four 1.5 ms). On
// Debian's street clip (a still camera, people walking) one frame differs
// from the next by 0.6 to 1.9 and from the third after it by 3 or more; a
// still picture by 0. Without the lower bound a picture that changed on every
// frame (someone moving close to the camera) made the map on three frames in
// four, and the cutout's frame took 59 ms instead of about 40.
constexpr double kSalientChange = 2.0;
constexpr int kSalientMinAge = kRefreshEvery;
constexpr int kSalientMaxAge = 4 * kRefreshEvery;
constexpr int kSalientMaxAgeNoHands = 4 * kSalientMaxAge;
// The person boxes (CenterNet, about half an ISNet run) are made anew when
// the picture changed by more than kSalientChange since their frame, once
// they are kPeopleMinAge frames old, and on their kPeopleMaxAge-th frame at
// the latest; but not on a frame that made ISNet's map, unless they are older
// than kPeopleMaxAge, so the two do not pile up on one frame. On a still
// picture that is one frame in twelve, not one in three; people who walk move
// the boxes' thumbnail as they move ISNet's, so the boxes follow them within
// a fifth of a second while hands are in view (the held things come with the
// boxes), within 0.3 s while none is (kPeopleMinAgeNoHands: the matte draws
// the people on every frame, the boxes only split those who touch). On
// Debian's street clip CenterNet then runs on one frame in ten instead of one
// in seven, and the cutout's mask of its marked frame is the same.
constexpr int kPeopleMinAge = 2 * kRefreshEvery;
constexpr int kPeopleMinAgeNoHands = 3 * kRefreshEvery;
constexpr int kPeopleMaxAge = 4 * kRefreshEvery;

// A picture's change thumbnail: kChangeColumns x kChangeRows grey cells
// (CV_8U), each the mean of a 4 x 4 grid of pixels spread over it, so a few
// thousand reads at any frame size. `bgr` is 8-bit BGR.
constexpr int kChangeColumns = 32, kChangeRows = 18;
cv::Mat changeThumbnail(const cv::Mat& bgr);
// The cells of the change thumbnail that show a person or lie next to one
// (CV_8U, 255), from a person matte (CV_32F 0..1) of the thumbnail's
// picture: its pixels from `level` on are people's.
cv::Mat peopleCells(const cv::Mat& matte, float level);
// The mean absolute difference of two change thumbnails, in grey levels,
// over the cells `left out` (CV_8U, nonzero; may be empty) does not mark; 0
// when it marks them all.
double meanChange(const cv::Mat& a, const cv::Mat& b, const cv::Mat& leftOut = cv::Mat());

// What the stream's frame carries over from earlier ones, for a picture of
// that size: a picture of another size starts afresh at frame 0. Null without
// a session: the picture is analysed on its own.
SlowAnalyses* carriedAnalyses(StreamSession* session, const cv::Size& picture);

// Whether the person boxes are made anew on this frame, whose change
// thumbnail is `thumb`: when there are none, or when they are due (above)
// and ISNet's map was not made on this frame. Asked after ISNet's turn.
bool peopleMadeAnew(const SlowAnalyses* kept, const cv::Mat& thumb);
// Whether ISNet's map is made anew on this frame, whose change thumbnail is
// `thumb` and whose people are in the cells `people` (peopleCells; may be
// empty): when there is none, when the picture changed away from the people
// of this frame and of the map's or around a followed hand, or when the map
// is old (older while no hand is in view). People are the matte's, made on
// every frame, and the map's people are left out of the instances: what the
// map adds is what lies around them (and what hands hold), and people who
// walk through a still scene do not change it. `people` is asked for only
// when the change is measured, once the map is old enough.
bool salientMadeAnew(const SlowAnalyses* kept, const cv::Mat& thumb, const std::function<cv::Mat()>& people);
inline bool salientMadeAnew(const SlowAnalyses* kept, const cv::Mat& thumb, const cv::Mat& people) {
  return salientMadeAnew(kept, thumb, [&] { return people; });
}

// Whether frame `last` (-1: none yet) is the one before the frame being analysed.
bool justBefore(const SlowAnalyses& kept, int64_t last);
// Whether the held step found hands to follow on one of the last
// kRefreshEvery frames (it runs on some frames only).
bool handsInView(const SlowAnalyses& kept);

// Where the face detector looks on this frame, after the faces of the frame
// before were followed (`followed` of them still seen, `lost` when one was
// not): everywhere on the stream's first frame and after a frame that did
// not look at faces, when a followed face was lost and on its search turn;
// while none is followed, at the whole picture on the shorter cadence's turns.
enum class FaceSearch { None, WholePicture, Everywhere };
FaceSearch faceSearch(const SlowAnalyses& kept, size_t followed, bool lost);

// Where the landmark model looks for hands on this frame: around the palms
// that `palms` finds, on the palm detector's turn and wherever the frame
// before did not look for hands (the stream's start, a frame the held step
// skipped); otherwise where the frame before left hands to follow, which may
// be nowhere (the palms it found were not hands). Without `kept` (a picture
// on its own), around the palms.
std::vector<RotatedCrop> handCropsFor(const SlowAnalyses* kept, const std::function<std::vector<RotatedCrop>()>& palms);

// Keeps where the next frame looks for the hands this frame found.
void keepHandCrops(SlowAnalyses* kept, std::vector<RotatedCrop> next);

}  // namespace kestrel::vision::dnn
