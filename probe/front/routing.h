#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

enum class Mode { AudioInputs, Record, Cutout, GateTest, Person, Photo, Usage, Video };

// Where the command line goes, with the values each mode takes.
struct Route {
  Mode mode = Mode::Usage;
  int64_t width = 0;   // cutout, gate test, person
  int64_t height = 0;  // cutout, gate test, person
  int64_t size = 0;    // photo: the longest side
  std::string deviceId;     // record: the input to record
  std::string qualityWord;  // person: "fast", "accurate" or anything else for balanced
  std::string mediaPath;    // video: the file to analyse
  std::string input;   // photo
  std::string output;  // photo
  int64_t hz = 5;      // video
};

inline constexpr const char* USAGE =
    "usage: kestrel-probe <media path> [hz] | kestrel-probe --cutout <width> <height>";

// args[0] is the program name, as in argv.
Route route(const std::vector<std::string>& args);

}  // namespace kestrel
