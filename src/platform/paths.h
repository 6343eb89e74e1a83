// Paths as a program receives them from others: made absolute from the
// sender's working directory, and canonical, so the same file has one name.
#pragma once

#include <string>
#include <sys/types.h>

// path made absolute from the working directory of process peer (the
// program's own when peer is 0 or unknown).
std::string AbsolutePath(const std::string &path, pid_t peer);
// An absolute path with its directories' links, "." and ".." resolved; the
// last component stays as it is unless it is a link. A path that no longer
// exists is tidied as text.
std::string CanonicalPath(const std::string &absolute);
// The real path of a file that may not exist yet: its directory's real
// path and its own name; given as it is when the directory is gone too.
std::string RealPathOfNew(const std::string &given);
// The file name of a path: what follows its last "/".
std::string FileNameOf(const std::string &path);
