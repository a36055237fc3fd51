#include "tests/support/scratch.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestrel::test {

Scratch::Scratch() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "kestrel-test-XXXXXX").string();
  if (mkdtemp(tmpl.data())) dir_ = tmpl;
}

Scratch::~Scratch() {
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream s(text);
  std::string line;
  while (std::getline(s, line)) result.push_back(line);
  return result;
}

}  // namespace kestrel::test
