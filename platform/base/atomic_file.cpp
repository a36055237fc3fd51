#include "platform/base/atomic_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/base/removed_on_signal.h"
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

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// The path with every symbolic link in its last part followed, so that the
// link's target is replaced rather than the link; the target need not exist.
// Empty with errno set for a loop of links.
std::string linkTarget(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) return path;
    target.resize(static_cast<size_t>(n));
    path = target.front() == '/' ? target : folderOf(path) + target;
  }
  errno = ELOOP;
  return {};
}

// A hidden name in the same folder, so the rename stays on one file system.
std::string tempName(const std::string& path, int attempt) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[8] = {};
  if (::getrandom(random, sizeof random, GRND_NONBLOCK) != sizeof random)
    random[0] = static_cast<unsigned char>(::getpid() + attempt);  // O_EXCL still guards
  const std::string folder = folderOf(path);
  std::string name = folder + "." + path.substr(folder.size()) + ".";
  for (unsigned char r : random) name.push_back(kLetters[r % (sizeof kLetters - 1)]);
  return name;
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {
  // What the path leads to, through any link (/dev/stdout's included).
  struct stat st;
  const bool exists = ::stat(path_.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    error_ = std::strerror(EISDIR);
    return;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    direct_ = true;  // a FIFO or a device: opening blocks until a FIFO has a reader
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) error_ = std::strerror(errno);
    temp_ = path_;
    return;
  }
  path_ = linkTarget(std::move(path_));
  if (path_.empty()) {
    error_ = std::strerror(errno);
    return;
  }
  openTemporary();
}

void AtomicFile::openTemporary() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = tempName(path_, attempt);
    // Registered before it exists: no moment when a signal could leave it.
    auto removal = std::make_unique<RemovedOnSignal>(name);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) {
      error_ = std::strerror(errno);
      return;
    }
    if (::fchmod(fd, modeFor(path_)) != 0) {
      error_ = std::strerror(errno);
      ::close(fd);
      ::unlink(name.c_str());
      return;
    }
    fd_ = fd;
    temp_ = std::move(name);
    removal_ = std::move(removal);
    return;
  }
  error_ = std::strerror(EEXIST);
}

AtomicFile::~AtomicFile() {
  if (fd_ < 0) return;
  ::close(fd_);
  if (!direct_) ::unlink(temp_.c_str());
}

std::optional<std::string> AtomicFile::commit() {
  if (fd_ < 0) return error_;
  int err = 0;
  if (!direct_ && ::fsync(fd_) != 0) err = errno;
  if (::close(fd_) != 0 && !err) err = errno;
  fd_ = -1;
  if (direct_) {
    if (!err) return std::nullopt;
    error_ = std::strerror(err);
    return error_;
  }
  if (!err && std::rename(temp_.c_str(), path_.c_str()) != 0) err = errno;
  if (err) ::unlink(temp_.c_str());
  removal_.reset();  // after the rename: the name is gone either way
  if (!err) return std::nullopt;
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
