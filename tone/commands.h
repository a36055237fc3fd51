#pragma once
// The two commands of kestrel-tone. Each owns the opened video, does its whole
// job and ends the process: status 0 after its output, through fail otherwise.
#include <memory>
#include <string>
#include <vector>

#include "platform/media/sdr_video.h"

namespace kestrel::tone {

// lut <grid> <N> <P> <out.cube>: a 3D table measured from a grid video.
[[noreturn]] void runLut(std::unique_ptr<media::SdrVideo> video, const std::vector<std::string>& a);

// frame <video> <seconds> <out.rgb>: the frame shown at a time as raw RGB.
[[noreturn]] void runFrame(std::unique_ptr<media::SdrVideo> video, const std::vector<std::string>& a);

// The video's error as the commands report it: nil, or Optional(description).
std::string readerErrorText(const media::SdrVideo& video);

}  // namespace kestrel::tone
