#include "maphost/host.h"

#include "maphost/map_command.h"
#include "platform/console.h"

namespace {

void keep(HostState &state) {
  std::string why;
  if (!WriteFileAtomically(state.gpx_path, RenderGpx(state.gpx), &why))
    fprintf(stderr, "pintrail-maphost: cannot write %s\n", why.c_str());
}

} // namespace

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

WireReply HandleCommand(HostState &state, const WireMessage &message) {
  MapCommand command;
  if (!ParseMapCommand(message.command, command))
    return WireReply{kCommandFailed, std::nullopt};
  bool waypoint = command.kind == MapCommand::Waypoint;
  if (!state.gpx_path.empty()) { // without a file, keep nothing: memory stays flat
    if (waypoint)
      AddWaypoint(state.gpx, command.latitude, command.longitude, command.text);
    else
      AddPicture(state.gpx, command.latitude, command.longitude, command.text);
    keep(state);
  }
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
    ReplyMsg(message, HandleCommand(state, message.message));
  }
}
