#pragma once
// Reading the programs' JSON lines as text in tests.
#include <string>

namespace kestrel::test {

// The text of a key's array value, brackets included (up to the matching
// bracket), or empty when the line has no such key.
inline std::string arrayOf(const std::string& line, const std::string& key) {
  size_t at = line.find("\"" + key + "\":[");
  if (at == std::string::npos) return {};
  at += key.size() + 3;
  int depth = 1;
  size_t end = at + 1;
  for (; end < line.size() && depth > 0; ++end) depth += line[end] == '[' ? 1 : line[end] == ']' ? -1 : 0;
  return line.substr(at, end - at);
}

}  // namespace kestrel::test
