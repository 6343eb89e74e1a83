#include "maphost/host.h"

#include <climits>
#include <unistd.h>

#include "maphost/gpx.h"
#include "maphost/map_command.h"
#include "platform/console.h"

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
    position.path = AbsolutePath(command.text, peer);
    position.href = FileUri(position.path);
  }
  return position;
}

} // namespace

std::string AbsolutePath(const std::string &path, pid_t peer) {
  if (!path.empty() && path[0] == '/')
    return path;
  std::string directory = working_directory(peer);
  return (directory == "/" ? "" : directory) + "/" + path;
}

std::string PrintableLine(const std::string &command) {
  static const char hex[] = "0123456789abcdef";
  std::string line;
  for (char c : command) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      line += "\\n";
    } else if (c == '\t') {
      line += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      line += "\\x";
      line.push_back(hex[byte >> 4]);
      line.push_back(hex[byte & 0xF]);
    } else {
      line.push_back(c);
    }
  }
  return line;
}

WireReply HandleCommand(HostState &state, const WireMessage &message, pid_t peer) {
  MapCommand command;
  if (!ParseMapCommand(message.command, command))
    return WireReply{kCommandFailed, std::nullopt};
  bool waypoint = command.kind == MapCommand::Waypoint;
  if (state.keeping) // else keep nothing: memory stays flat
    KeepPosition(state.store, position_of(command, peer));
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
    if (!state.quiet && !PrintHostLine(PrintableLine(message.message.command)))
      return false;
    ReplyMsg(message, HandleCommand(state, message.message, message.peer));
  }
}
