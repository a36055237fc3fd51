#include "tone/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kestrel::tone {
namespace {

// The mode a plainly created file would get, or the replaced file's own.
mode_t modeFor(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

std::optional<std::string> writeAtomically(const std::string& path, std::string_view bytes) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = (slash == std::string::npos ? "./" : dir) + "." + name + ".XXXXXX";
  std::vector<char> tempName(temp.begin(), temp.end());
  tempName.push_back('\0');

  const int fd = ::mkostemp(tempName.data(), O_CLOEXEC);
  if (fd < 0) return std::string(std::strerror(errno));
  int err = 0;
  if (::fchmod(fd, modeFor(path)) != 0) err = errno;
  for (size_t done = 0; !err && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) err = n < 0 ? errno : EIO;
    else done += static_cast<size_t>(n);
  }
  if (!err && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && !err) err = errno;
  if (!err && ::rename(tempName.data(), path.c_str()) != 0) err = errno;
  if (err) {
    ::unlink(tempName.data());
    return std::string(std::strerror(err));
  }
  return std::nullopt;
}

}  // namespace kestrel::tone
