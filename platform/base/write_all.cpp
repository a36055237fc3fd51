#include "platform/base/write_all.h"

#include <unistd.h>

#include <cerrno>

namespace kestrel {

bool writeAll(int fd, const void* data, size_t bytes, size_t* written) {
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  bool ok = true;
  while (done < bytes) {
    const ssize_t n = ::write(fd, p + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = EIO;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  if (written) *written = done;
  return ok;
}

}  // namespace kestrel
