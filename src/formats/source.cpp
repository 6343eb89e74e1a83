#include "formats/source.h"

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

bool OpenFileSource(int fd, const unsigned char *head, size_t length, FileSource &source) {
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
    return false;
  source = FileSource{fd, static_cast<uint64_t>(status.st_size), head, length, 0};
  return true;
}

FileSource MemorySource(const unsigned char *bytes, size_t length) {
  return FileSource{-1, length, bytes, length, 0};
}

bool ReadAt(FileSource &source, uint64_t offset, void *out, size_t length) {
  if (offset > source.size || length > source.size - offset)
    return false;
  if (length == 0)
    return true;
  if (offset + length <= source.head_length) {
    memcpy(out, source.head + offset, length);
    return true;
  }
  unsigned char *to = static_cast<unsigned char *>(out);
  while (length > 0) { // a file that shrank since fstat ends the read
    ssize_t got = pread(source.fd, to, length, static_cast<off_t>(offset));
    if (got <= 0)
      return false;
    source.bytes_read += static_cast<uint64_t>(got);
    to += got;
    offset += static_cast<uint64_t>(got);
    length -= static_cast<size_t>(got);
  }
  return true;
}
