#include "maphost/exchange.h"

#include "maphost/files/gpx.h"
#include "maphost/store/intake.h"
#include "maphost/thumbnails/attached.h"
#include "maplink/grammar.h"
#include "platform/console.h"
#include "platform/paths.h"
#include "platform/printable.h"

namespace {

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
  }
  return position;
}

} // namespace

WireReply HandleCommand(HostState &state, const WireMessage &message, pid_t peer,
                        std::optional<Position> &journalled) {
  MapCommand command;
  if (!ParseMapCommand(message.command, command))
    return WireReply{kCommandFailed, std::nullopt};
  bool waypoint = command.kind == MapCommand::Waypoint;
  // In the journal before the reply, or refused; without files or a web
  // view nothing is kept, and memory stays flat.
  if (state.keeping) {
    Position position = position_of(command, peer);
    if (position.picture) // the file as delivered, whatever is renamed over it later
      AttachPicture(position);
    if (!JournalPosition(state.store, position))
      return WireReply{kCommandFailed, std::nullopt};
    journalled = std::move(position);
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

bool ServePort(PublicPort &port, HostState &state, const volatile sig_atomic_t *stop) {
  PortMessage message;
  Intake intake(state.store);
  for (;;) {
    PortWait got = GetMsg(port, message, stop, kReceiveTimeoutMs);
    if (got == PortWait::Stopped)
      return true;
    if (got == PortWait::Again)
      continue;
    if (!state.quiet && !PrintHostLine(PrintableText(message.message.command)))
      return false;
    std::optional<Position> journalled;
    ReplyMsg(message, HandleCommand(state, message.message, message.peer, journalled));
    // The peer goes on to its next command while the store takes the
    // position in.
    if (journalled)
      intake.Hand(std::move(*journalled));
  }
}
