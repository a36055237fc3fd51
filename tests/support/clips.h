#pragma once
// The clips and raw frames the tests make with the ffmpeg command-line tool.
#include <string>

#include "tests/support/scratch.h"

namespace kestrel::test {

// Runs ffmpeg with `args` (inputs, filters, codec and format options; paths
// in them quoted for the shell) writing `name` in the scratch folder, and
// returns its path. Fails the test with ffmpeg's messages when ffmpeg does.
std::string makeClip(const Scratch& s, const std::string& name, const std::string& args);

// A clip that shows one picture throughout, H.264 in 4:2:0; `options` holds
// its length and rate and any filters.
std::string stillClip(const Scratch& s, const std::string& name, const std::string& picture,
                      const std::string& options);

}  // namespace kestrel::test
