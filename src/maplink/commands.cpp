#include "maplink/commands.h"

#include <cstdio>

#include "platform/console.h"
#include "platform/ports.h"

namespace {

// Delivers command to the port found and waits for the host's reply.
std::optional<std::string> deliver(MsgPort &port, const char *command, MapAnswer &answer) {
  answer = MapAnswer{MapAnswer::NoAnswer, 0};
  ReplyPort reply_port;
  RexxMsgHandle message(CreateRexxMsg(&reply_port, "", port.name.c_str()));
  if (!message)
    return std::nullopt;
  message->rm_Args[0] = command;
  message->rm_Action = RXFF_RESULT;
  if (!PutMsg(&port, message.get()) || !WaitPort(message.get()))
    return std::nullopt;
  answer.code = message->rm_Result1;
  answer.kind = answer.code == 0 ? MapAnswer::Accepted : MapAnswer::Refused;
  if (message->rm_Result1 != 0)
    return std::nullopt;
  return std::move(message->rm_Result2);
}

// One look-up, whose connection carries the command. The console is
// flushed first: the announcement shows while we wait for the host, and a
// slow reader of our output never holds a connection the host waits on.
MapAnswer send_to_map(const std::string &command) {
  MapAnswer answer;
  FlushOutput();
  std::unique_ptr<MsgPort> port = FindPort(kMapPortName);
  if (!port) {
    Printf("No ARexx Port found!\nYou must start Vantora first.\n");
    return answer;
  }
  deliver(*port, command.c_str(), answer);
  return answer;
}

} // namespace

MapAnswer SendWaypoint(double latitude, double longitude, const char *name) {
  return send_to_map(FormatWaypoint(latitude, longitude, name));
}

MapAnswer SendPicturePosition(double latitude, double longitude, const char *path) {
  return send_to_map(FormatPicturePosition(latitude, longitude, path));
}

std::optional<std::string> SendCommand(const char *port_name,
                                       const char *command) {
  if (!port_name || !command)
    return std::nullopt;
  FlushOutput();
  std::unique_ptr<MsgPort> port = FindPort(port_name);
  if (!port)
    return std::nullopt;
  MapAnswer answer;
  return deliver(*port, command, answer);
}
