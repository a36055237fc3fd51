#pragma once
#include <string>

namespace kestrel::photo {

// A file written under a temporary name beside its final path and renamed
// into place, so that a reader never sees it half written and an existing
// file is only ever replaced by a complete one. Not committing removes the
// temporary file.
class ReplacingFile {
 public:
  explicit ReplacingFile(std::string path);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Whether the temporary file could be created.
  bool ok() const { return !temp_.empty(); }
  // Where to write the contents.
  const std::string& tempPath() const { return temp_; }
  // Moves the temporary file to the final path; false when that fails, in
  // which case the temporary file is removed and the final path untouched.
  bool commit();

 private:
  std::string path_;
  std::string temp_;
};

}  // namespace kestrel::photo
