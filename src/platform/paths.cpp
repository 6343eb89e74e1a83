#include "platform/paths.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// The working directory of process peer, or the program's own.
std::string working_directory(pid_t peer) {
  char directory[PATH_MAX];
  std::string link = "/proc/" + std::to_string(peer) + "/cwd";
  ssize_t length = peer > 0 ? readlink(link.c_str(), directory, sizeof directory - 1) : -1;
  if (length > 0) {
    directory[length] = '\0';
    return directory;
  }
  return getcwd(directory, sizeof directory) ? directory : "";
}

// The real path of a directory by its identity, asked of realpath once: a
// survey sends thousands of pictures from each folder.
std::string real_directory(const std::string &directory) {
  static std::map<std::pair<dev_t, ino_t>, std::string> known;
  struct stat named, real;
  if (stat(directory.c_str(), &named) != 0)
    return "";
  std::string &path = known[{named.st_dev, named.st_ino}];
  if (!path.empty() && stat(path.c_str(), &real) == 0 && real.st_dev == named.st_dev &&
      real.st_ino == named.st_ino)
    return path; // still the same directory there
  char resolved[PATH_MAX];
  path = realpath(directory.c_str(), resolved) ? resolved : "";
  return path;
}

// "." and ".." and "//" resolved as text.
std::string tidied(const std::string &absolute) {
  std::vector<std::string> parts;
  for (size_t start = 1, end; start <= absolute.size(); start = end + 1) {
    end = std::min(absolute.find('/', start), absolute.size());
    std::string part = absolute.substr(start, end - start);
    if (part == ".." && !parts.empty())
      parts.pop_back();
    else if (!part.empty() && part != "." && part != "..")
      parts.push_back(part);
  }
  std::string path;
  for (const std::string &part : parts)
    path += "/" + part;
  return path.empty() ? "/" : path;
}

} // namespace

std::string AbsolutePath(const std::string &path, pid_t peer) {
  if (!path.empty() && path[0] == '/')
    return path;
  std::string directory = working_directory(peer);
  return (directory == "/" ? "" : directory) + "/" + path;
}

std::string CanonicalPath(const std::string &absolute) {
  size_t slash = absolute.rfind('/');
  std::string name = absolute.substr(slash + 1), directory;
  struct stat file;
  if (name != "." && name != ".." && lstat(absolute.c_str(), &file) == 0 && !S_ISLNK(file.st_mode) &&
      !(directory = real_directory(slash ? absolute.substr(0, slash) : "/")).empty())
    return (directory == "/" ? "" : directory) + "/" + name;
  char resolved[PATH_MAX];
  if (realpath(absolute.c_str(), resolved))
    return resolved;
  return tidied(absolute); // gone meanwhile
}

std::string RealPathOfNew(const std::string &given) {
  char resolved[PATH_MAX];
  if (realpath(given.c_str(), resolved))
    return resolved;
  size_t slash = given.rfind('/');
  std::string directory = slash == std::string::npos ? "." : given.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? given : given.substr(slash + 1);
  if (name.empty() || !realpath(directory.c_str(), resolved))
    return given;
  return std::string(resolved) + (resolved[1] ? "/" : "") + name;
}

std::string FileNameOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
