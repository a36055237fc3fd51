#pragma once
// Display P3 colour for the tests, made with lcms2: the profile's bytes and
// the expected sRGB value of a P3 colour.
#include <array>
#include <string>

namespace kestrel::test {

// An ICC profile with the Display P3 primaries, D65 white and the sRGB tone
// curve, whose description is `description`.
std::string displayP3Profile(const std::wstring& description = L"Display P3");

// An 8-bit Display P3 colour converted to sRGB, relative colorimetric.
std::array<int, 3> p3ToSrgb(const std::array<int, 3>& p3);

}  // namespace kestrel::test
