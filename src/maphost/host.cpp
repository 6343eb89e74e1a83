#include "maphost/host.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <sys/stat.h>
#include <vector>
#include <unistd.h>

#include "maphost/store/gpx.h"
#include "maphost/map_command.h"
#include "maphost/thumbnails/attached.h"
#include "platform/console.h"
#include "platform/printable.h"

namespace {

// The working directory of process peer, or the host's own.
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

Position position_of(const MapCommand &command, pid_t peer) {
  Position position;
  position.latitude = command.latitude;
  position.longitude = command.longitude;
  position.picture = command.kind == MapCommand::Picture;
  position.name = position.picture ? FileNameOf(command.text) : command.text;
  if (position.picture) {
    position.path = CanonicalPath(AbsolutePath(command.text, peer));
    position.href = FileUri(position.path);
    position.name = FileNameOf(position.path);
    AttachPicture(position); // or none: the position is kept, its file never opened again
  }
  return position;
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
  std::vector<std::string> parts; // gone meanwhile: "." and ".." and "//" at least
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

WireReply HandleCommand(HostState &state, const WireMessage &message, pid_t peer) {
  MapCommand command;
  if (!ParseMapCommand(message.command, command))
    return WireReply{kCommandFailed, std::nullopt};
  bool waypoint = command.kind == MapCommand::Waypoint;
  // Kept in the journal before the reply, or refused; without files or a
  // web view nothing is kept, and memory stays flat.
  if (state.keeping && KeepPosition(state.store, position_of(command, peer)) == Kept::Lost)
    return WireReply{kCommandFailed, std::nullopt};
  std::string result = waypoint ? "waypoint " + std::to_string(++state.waypoints)
                                : "picture " + std::to_string(++state.pictures);
  WireReply reply{0, std::nullopt};
  if (message.action & RXFF_RESULT)
    reply.result2 = result;
  return reply;
}

bool PrintHostLine(const std::string &line) {
  fputs(line.c_str(), stdout);
  fputc('\n', stdout);
  return FlushStream(stdout);
}

bool ServePort(PublicPort &port, HostState &state, const volatile int *stop) {
  HostMsg message;
  for (;;) {
    HostWait got = GetMsg(port, message, stop, kReceiveTimeoutMs);
    if (got == HostWait::Stopped)
      return true;
    if (got == HostWait::Again)
      continue;
    if (!state.quiet && !PrintHostLine(PrintableText(message.message.command)))
      return false;
    ReplyMsg(message, HandleCommand(state, message.message, message.peer));
  }
}
