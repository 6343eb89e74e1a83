// A file descriptor owned for a scope: closed when it ends.
#pragma once

#include <unistd.h>

struct Descriptor {
  int fd;
  explicit Descriptor(int descriptor) : fd(descriptor) {}
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  ~Descriptor() { reset(-1); }
  void reset(int descriptor) {
    if (fd >= 0)
      close(fd);
    fd = descriptor;
  }
  int release() {
    int descriptor = fd;
    fd = -1;
    return descriptor;
  }
};
