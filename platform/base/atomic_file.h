#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrel {

class RemovedOnSignal;

// A file written under a temporary name beside its final path and renamed
// into place, so that either the complete new file is there or nothing
// changed. The temporary file takes the mode of the file it replaces (or the
// mode a plain create would give), is flushed to disk before the rename, and
// is removed when the process ends on TERM, INT or HUP meanwhile. Not
// committing removes it. Whoever writes it, through fd() or by opening
// tempPath(), writes into this same file.
//
// A symbolic link is followed: its target is what gets replaced. A FIFO, a
// device or another file that is not a regular one cannot be replaced; it is
// written through directly (tempPath() is then the path itself). A folder is
// refused.
class AtomicFile {
 public:
  explicit AtomicFile(std::string path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Whether the file could be opened; error() says why not.
  bool ok() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }
  int fd() const { return fd_; }
  const std::string& tempPath() const { return temp_; }
  // Flushes the temporary file and moves it to the final path. On failure
  // the system's error description, the temporary file removed and the
  // final path untouched.
  std::optional<std::string> commit();

 private:
  void openTemporary();

  std::string path_;  // the file replaced: the path, or the target of its links
  std::string temp_;
  std::string error_;
  int fd_ = -1;
  bool direct_ = false;  // written through, not replaced
  std::unique_ptr<RemovedOnSignal> removal_;
};

// The bytes as the whole content of `path`, through an AtomicFile. Returns
// the system's error description on failure, leaving nothing behind.
std::optional<std::string> writeAtomically(const std::string& path, std::string_view bytes);

}  // namespace kestrel
