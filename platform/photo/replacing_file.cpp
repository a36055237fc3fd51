#include "platform/photo/replacing_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

namespace kestrel::photo {
namespace {

// A hidden name in the same folder, so the rename stays on one file system.
std::string tempName(const std::string& path, unsigned tag) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%08x.part", tag);
  return dir + "." + base + suffix;
}

}  // namespace

ReplacingFile::ReplacingFile(std::string path) : path_(std::move(path)) {
  if (path_.empty() || path_.back() == '/') return;
  std::random_device seed;
  std::minstd_rand tags(seed() ^ static_cast<unsigned>(::getpid()));
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string name = tempName(path_, static_cast<unsigned>(tags()));
    // 0666 so the umask decides the final permissions, as for a plain create.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      temp_ = std::move(name);
      return;
    }
    if (errno != EEXIST) return;
  }
}

ReplacingFile::~ReplacingFile() {
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

bool ReplacingFile::commit() {
  if (temp_.empty()) return false;
  const bool moved = std::rename(temp_.c_str(), path_.c_str()) == 0;
  if (!moved) ::unlink(temp_.c_str());
  temp_.clear();
  return moved;
}

}  // namespace kestrel::photo
