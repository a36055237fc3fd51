#pragma once
#include <cstdint>
#include <string>

namespace kestrel {

// Raw BGRA frames in, a zero header and the person matte out, until the input ends.
[[noreturn]] void runPerson(int64_t width, int64_t height, const std::string& qualityWord);

}  // namespace kestrel
