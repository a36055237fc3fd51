#pragma once
#include <cstdint>
#include <string>

namespace kestrel {

// Analyses the first video track of a file at most hz frames per second and
// writes the info line, one frame line per picked frame and the done line,
// then ends the process with status 0; every failure ends through fail.
[[noreturn]] void runVideoAnalysis(const std::string& path, int64_t hz);

}  // namespace kestrel
