#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

// A temporary folder removed with everything in it when the object goes.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);

// The lines of a text, without their line feeds.
std::vector<std::string> lines(const std::string& text);

}  // namespace kestrel::test
