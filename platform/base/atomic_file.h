#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

// A file written under a temporary name beside its final path and renamed
// into place, so that either the complete new file is there or nothing
// changed. The temporary file takes the mode of the file it replaces (or the
// mode a plain create would give), and is flushed to disk before the rename.
// Not committing removes it. Whoever writes it, through fd() or by opening
// tempPath(), writes into this same file.
class AtomicFile {
 public:
  explicit AtomicFile(std::string path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Whether the temporary file could be made; error() says why not.
  bool ok() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }
  int fd() const { return fd_; }
  const std::string& tempPath() const { return temp_; }
  // Flushes the temporary file and moves it to the final path. On failure
  // the system's error description, the temporary file removed and the
  // final path untouched.
  std::optional<std::string> commit();

 private:
  std::string path_;
  std::string temp_;
  std::string error_;
  int fd_ = -1;
};

// The bytes as the whole content of `path`, through an AtomicFile. Returns
// the system's error description on failure, leaving nothing behind.
std::optional<std::string> writeAtomically(const std::string& path, std::string_view bytes);

}  // namespace kestrel
