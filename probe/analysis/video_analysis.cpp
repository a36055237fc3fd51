#include "probe/analysis/video_analysis.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <limits>

#include "platform/base/fail.h"
#include "platform/media/video_source.h"
#include "platform/vision/vision.h"
#include "probe/analysis/frame_loop.h"
#include "probe/analysis/frame_record.h"
#include "probe/analysis/orientation.h"
#include "probe/analysis/thumbnail.h"
#include "probe/front/emit.h"

namespace kestrel {
namespace {

std::string absolutePath(const std::string& path) {
  std::error_code ec;
  auto p = std::filesystem::absolute(path, ec);
  return ec ? path : p.string();
}

bool readableFile(const std::string& path) {
  std::error_code ec;
  return ::access(path.c_str(), R_OK) == 0 && !std::filesystem::is_directory(path, ec);
}

// Analyses one picked frame and writes its line. The thumbnail reads a few
// rows of the frame in BGRA; the models read their own sizes and parts of it.
void analyseFrame(const media::VideoFrame& frame, const media::MediaTime& time, uint32_t orientation,
                  media::FrameConverter& converter) {
  std::vector<uint8_t> thumb = thumbnail(converter.bgraRows(frame, thumbnailRows(frame.height())));
  const std::unique_ptr<PixelSource> source = converter.pixelSource(frame);
  if (!source) fail("Vision failed: the frame has no picture");
  auto handler = vision::service().handler(*source, orientation);
  vision::Results results;
  std::string error;
  if (!handler->perform(frameRequests(), results, error)) fail("Vision failed: " + error);
  emit(frameRecord(results, time, std::move(thumb)));
}

}  // namespace

void runVideoAnalysis(const std::string& path, int64_t hz) {
  const std::string absolute = absolutePath(path);
  if (!readableFile(absolute)) fail("can't read " + absolute);
  if (hz > std::numeric_limits<int32_t>::max())
    fail("rate " + std::to_string(hz) + " is above the largest timescale, 2147483647");

  media::OpenResult opened = media::openVideo(absolute);
  switch (opened.status) {
    case media::OpenStatus::NoVideoTrack: fail("no video track");
    case media::OpenStatus::CantOpen: fail("can't open the video: " + opened.error);
    case media::OpenStatus::NoDecoder:
    case media::OpenStatus::CantDecode: fail("can't decode the video: " + opened.error);
    case media::OpenStatus::Ok: break;
  }
  vision::service().prepare(frameRequests());  // the models load while decoding starts
  media::VideoSource& source = *opened.source;
  const media::Track& track = source.track();
  const uint32_t orientation = orientationOf(track.displayCos, track.displaySin);

  Info info;
  info.width = track.width;
  info.height = track.height;
  info.orientation = orientation;
  info.hz = hz;
  info.vision = vision::service().description();
  emit(info);

  media::FrameConverter converter;
  const int64_t n = sampleFrames(source, hz, [&](const media::VideoFrame& frame, const media::MediaTime& p) {
    analyseFrame(frame, p, orientation, converter);
  });
  if (source.failed()) {
    const std::string error = source.error();
    fail("decoding stopped: " + (error.empty() ? std::string("unknown") : error));
  }
  emit(Done{"done", n});
  // No library teardown: a model may still be loading on its thread (a video
  // without frames ends before the models are in), and tearing the libraries
  // down under it crashed.
  flushLines();
  std::_Exit(0);
}

}  // namespace kestrel
