// A fuzz target as a plain program: feeds every file of the folders (or the
// files) named on its command line to the target once, in name order, so that
// a committed corpus runs as a regression test with any compiler. A broken
// property traps, which the test sees as a crash.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (fs::is_directory(argv[i])) {
      for (const auto& entry : fs::directory_iterator(argv[i]))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    } else {
      inputs.emplace_back(argv[i]);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 1;
  }
  for (const auto& path : inputs) {
    // Exactly the file's bytes, so that a read past the end is a read past the allocation.
    std::error_code error;
    const auto size = static_cast<size_t>(fs::file_size(path, error));
    auto bytes = std::make_unique_for_overwrite<uint8_t[]>(size);
    std::ifstream file(path, std::ios::binary);
    if (error || !file.read(reinterpret_cast<char*>(bytes.get()), static_cast<std::streamsize>(size))) {
      std::fprintf(stderr, "can't read %s\n", path.c_str());
      return 1;
    }
    LLVMFuzzerTestOneInput(bytes.get(), size);
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
