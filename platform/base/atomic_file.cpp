#include "platform/base/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/base/write_all.h"

namespace kestrel {
namespace {

// The mode a plainly created file would get, or the replaced file's own.
mode_t modeFor(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// A hidden name pattern in the same folder, so the rename stays on one file system.
std::string tempPattern(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "./." + path + ".XXXXXX";
  return path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".XXXXXX";
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  std::string pattern = tempPattern(path_);
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    error_ = std::strerror(errno);
    return;
  }
  if (::fchmod(fd, modeFor(path_)) != 0) {
    error_ = std::strerror(errno);
    ::close(fd);
    ::unlink(name.data());
    return;
  }
  fd_ = fd;
  temp_ = name.data();
}

AtomicFile::~AtomicFile() {
  if (fd_ < 0) return;
  ::close(fd_);
  ::unlink(temp_.c_str());
}

std::optional<std::string> AtomicFile::commit() {
  if (fd_ < 0) return error_;
  int err = 0;
  if (::fsync(fd_) != 0) err = errno;
  if (::close(fd_) != 0 && !err) err = errno;
  fd_ = -1;
  if (!err && std::rename(temp_.c_str(), path_.c_str()) != 0) err = errno;
  if (!err) return std::nullopt;
  ::unlink(temp_.c_str());
  error_ = std::strerror(err);
  return error_;
}

std::optional<std::string> writeAtomically(const std::string& path, std::string_view bytes) {
  AtomicFile file(path);
  if (!file.ok()) return file.error();
  if (!writeAll(file.fd(), bytes.data(), bytes.size())) return std::string(std::strerror(errno));
  return file.commit();
}

}  // namespace kestrel
