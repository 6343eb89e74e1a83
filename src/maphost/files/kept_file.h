// A file the map host keeps (the GPX document, the exported page): found by
// its real path, locked against every other host for as long as this one
// runs, and replaced whole through a temporary file no one can plant.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct KeptFile {
  std::string path; // the real path: links and "." resolved
  // The file as last written. It holds the lock: a lock of this kind goes
  // with the process, however it ends.
  int fd = -1;
  bool created = false; // by this host, and not written yet: removed unused
  KeptFile() = default;
  KeptFile(const KeptFile &) = delete;
  KeptFile &operator=(const KeptFile &) = delete;
  ~KeptFile();
};

// Opens and locks the file named given, creating it empty with mode 0600
// when it is missing. False, with the reason, when it cannot be had: not a
// regular file, read-only for its owner, kept by another host (the reason
// names that host's process id where it can be told), a file with other
// names (hard links), or another user's link in a sticky folder open to
// all. A refused file is left untouched.
bool OpenKeptFile(const std::string &given, KeptFile &file, std::string *why);

// The file's contents as they are now, up to most bytes.
std::string ReadKeptFile(const KeptFile &file, size_t most = SIZE_MAX);

// Writes contents to a new file beside it (created exclusively, never
// through a link), with the old file's mode, owner, group and extended
// attributes (its access control list among them), flushed to
// the disk, then renamed over it: readers see the old document or the new
// one, never a part, and the lock moves along.
bool ReplaceKeptFile(KeptFile &file, const std::string &contents, std::string *why);
// The same, the new file's contents written to it by write, false when it
// could not.
bool ReplaceKeptFile(KeptFile &file, const std::function<bool(int fd)> &write, std::string *why);
