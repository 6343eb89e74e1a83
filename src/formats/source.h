// Random access to a picture file for the container readers: bounded reads
// at any offset, served from the head already read when they fall inside it.
#pragma once

#include <cstddef>
#include <cstdint>

struct FileSource {
  int fd = -1;                         // -1: the head is the whole file
  uint64_t size = 0;                   // the file's size in bytes
  const unsigned char *head = nullptr; // the file's first head_length bytes
  size_t head_length = 0;
  uint64_t bytes_read = 0;             // read past the head, for the benchmark
};

// A source over the first length bytes of an open file; its size from fstat.
// False when the file cannot be examined.
bool OpenFileSource(int fd, const unsigned char *head, size_t length, FileSource &source);
// A source over bytes in memory: the whole file.
FileSource MemorySource(const unsigned char *bytes, size_t length);

// Reads length bytes at offset into out; false unless all of them lie in
// the file and were read.
bool ReadAt(FileSource &source, uint64_t offset, void *out, size_t length);

// Big- and little-endian numbers in bytes.
inline uint32_t Big16(const unsigned char *p) { return uint32_t(p[0]) << 8 | p[1]; }
inline uint32_t Big32(const unsigned char *p) { return Big16(p) << 16 | Big16(p + 2); }
inline uint64_t Big64(const unsigned char *p) { return uint64_t(Big32(p)) << 32 | Big32(p + 4); }
inline uint32_t Little16(const unsigned char *p) { return uint32_t(p[1]) << 8 | p[0]; }
inline uint32_t Little32(const unsigned char *p) { return Little16(p + 2) << 16 | Little16(p); }
