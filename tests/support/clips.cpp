#include "tests/support/clips.h"

#include <gtest/gtest.h>

#include "tests/support/process.h"

namespace kestrel::test {

std::string makeClip(const Scratch& s, const std::string& name, const std::string& args) {
  const std::string path = s.path(name);
  std::string log;
  EXPECT_TRUE(shell("ffmpeg -nostdin -v error -y " + args + " '" + path + "'", &log))
      << name << ": " << log;
  return path;
}

std::string stillClip(const Scratch& s, const std::string& name, const std::string& picture,
                      const std::string& options) {
  return makeClip(s, name,
                  "-loop 1 -i '" + picture + "' " + options + " -pix_fmt yuv420p -c:v libx264");
}

}  // namespace kestrel::test
