#pragma once
// The two commands of kestrel-tone. Each owns the opened video, does its whole
// job and ends the process: status 0 after its output, through fail otherwise.
#include <memory>
#include <string>
#include <vector>

#include "platform/media/video_source.h"

namespace kestrel::tone {

// lut <grid> <N> <P> <out.cube>: a 3D table measured from a grid video.
[[noreturn]] void runLut(media::OpenResult opened, const std::vector<std::string>& a);

// frame <video> <seconds> <out.rgb>: the frame shown at a time as raw RGB.
[[noreturn]] void runFrame(media::OpenResult opened, const std::vector<std::string>& a);

// Whether the file exists but this process may not read it.
bool permissionDenied(const std::string& path);

// The opened video, once the command has checked its own words: a video
// whose decoder does not start ends the run with "reading: " and why.
media::VideoSource& started(const media::OpenResult& opened);

// The video's error as the commands report it: nil, or Optional(description).
std::string readerErrorText(const media::VideoSource& video);

}  // namespace kestrel::tone
