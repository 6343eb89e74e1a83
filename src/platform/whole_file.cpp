#include "platform/whole_file.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

bool ReadWholeFile(int fd, std::string &bytes, size_t most) {
  bytes.clear(); // its capacity stays: a caller that knows the size reserves it
  for (size_t have = 0; have < most; have = bytes.size()) {
    size_t want = std::min(most - have, std::max<size_t>(bytes.capacity() - have, 1 << 16));
    bytes.resize(have + want);
    ssize_t n = pread(fd, bytes.data() + have, want, static_cast<off_t>(have));
    bytes.resize(have + static_cast<size_t>(std::max<ssize_t>(n, 0)));
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return n == 0;
  }
  return true;
}

bool WriteAll(int fd, std::string_view bytes) {
  for (size_t written = 0; written < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    written += static_cast<size_t>(n);
  }
  return true;
}
