#pragma once
#include <cstddef>

namespace kestrel {

// Writes all bytes to a file descriptor, resuming after partial writes and
// interruptions; false when the descriptor refuses them (a reader that closed
// its end, with SIGPIPE ignored; a full disk), with errno saying why (EIO
// when a write took nothing). `written`, when given, receives how many bytes
// went out, all of them or fewer.
bool writeAll(int fd, const void* data, size_t bytes, size_t* written = nullptr);

}  // namespace kestrel
