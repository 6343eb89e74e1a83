#include "maplink/commands.h"

#include <cstdio>

#include "platform/console.h"
#include "platform/ports.h"

namespace {

// printf into a string sized to fit: a long picture path is never cut.
template <typename... Args>
std::string format_command(const char *format, Args... args) {
  char buffer[1000] = {};
  int length = snprintf(buffer, sizeof buffer, format, args...);
  if (length < 0)
    return std::string();
  if (static_cast<size_t>(length) < sizeof buffer)
    return std::string(buffer, static_cast<size_t>(length));
  std::string text(static_cast<size_t>(length) + 1, '\0');
  snprintf(text.data(), text.size(), format, args...);
  text.pop_back();
  return text;
}

void send_to_map(const std::string &command) {
  if (!FindPort(kMapPortName)) {
    Printf("No ARexx Port found!\nYou must start Vantora first.\n");
    return;
  }
  SendCommand(kMapPortName, command.c_str());
}

} // namespace

std::string FormatWaypoint(double latitude, double longitude, const char *name) {
  return format_command("addwaypoint %g %g \"%s\"", latitude, longitude, name);
}

std::string FormatPicturePosition(double latitude, double longitude,
                                  const char *path) {
  return format_command("AddJPGPos %g %g %s", latitude, longitude, path);
}

void SendWaypoint(double latitude, double longitude, const char *name) {
  send_to_map(FormatWaypoint(latitude, longitude, name));
}

void SendPicturePosition(double latitude, double longitude, const char *path) {
  send_to_map(FormatPicturePosition(latitude, longitude, path));
}

std::optional<std::string> SendCommand(const char *port_name,
                                       const char *command) {
  if (!port_name || !command)
    return std::nullopt;
  std::unique_ptr<MsgPort> port = FindPort(port_name);
  if (!port)
    return std::nullopt;
  ReplyPort reply_port;
  RexxMsgHandle message(CreateRexxMsg(&reply_port, "", port->name.c_str()));
  if (!message)
    return std::nullopt;
  message->rm_Args[0] = command;
  message->rm_Action = RXFF_RESULT;
  FlushOutput(); // the announcement shows while we wait for the host
  if (!PutMsg(port.get(), message.get()) || !WaitPort(message.get()))
    return std::nullopt;
  if (message->rm_Result1 != 0)
    return std::nullopt;
  return std::move(message->rm_Result2);
}
