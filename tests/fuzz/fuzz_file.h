#pragma once
// The fuzz targets that read files write each input to one file of their own.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrel::fuzz {

// Writes the bytes to this process's scratch file (with the given extension)
// and returns its path.
inline std::string inputFile(const uint8_t* data, size_t size, const char* extension) {
  const std::string path =
      "/tmp/kestrel-fuzz-" + std::to_string(::getpid()) + "-input" + extension;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) __builtin_trap();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) __builtin_trap();
  std::fclose(f);
  return path;
}

}  // namespace kestrel::fuzz
