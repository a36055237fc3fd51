#pragma once
#include <array>
#include <cstdint>
#include <string>

namespace kestrel::test {

// Copies a video file into an MP4 whose video stream carries the given
// display matrix (16.16 fixed point, as in the MP4 track header).
bool remuxWithMatrix(const std::string& in, const std::string& out,
                     const std::array<int32_t, 9>& matrix);

}  // namespace kestrel::test
