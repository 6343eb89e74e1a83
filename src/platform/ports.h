// Public message ports over Unix-domain stream sockets: the port directory
// and the client side (port_host.h has the host side).
//
// A host owns a port by name: a socket file in the user's port directory. A
// client finds the port, delivers one message over a fresh connection (that
// connection is the message's private reply port) and waits, without a time
// limit, until the host replies or goes away. docs/ports.md has the bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

#include "platform/wire.h"

constexpr uint32_t RXFF_RESULT = 0x00020000;
constexpr int kRexxArgSlots = 16;

// The effective user id, asked once: ports are one user's.
uid_t OwnUid();
// $REXX_PORT_DIR, else $XDG_RUNTIME_DIR/rexx-ports, else /tmp/rexx-ports-UID.
std::string PortDirectory();
// Owned by this user, a real directory, no access for group or others.
bool PortDirectoryUsable(const std::string &directory, std::string *why);
// 1 to 100 bytes, no "/", not "." nor "..".
bool ValidPortName(const char *name);

struct MsgPort {
  std::string name;
  std::string path; // the socket file
  // The look-up's connection, kept for the message that follows: one
  // connection per message, as the host sees it either way. Closed unused.
  int fd = -1;
  ~MsgPort();
};

// The port if a connection to it is accepted; nullptr otherwise.
std::unique_ptr<MsgPort> FindPort(const char *name);

// The private reply port: the connected socket of one exchange.
struct ReplyPort {
  int fd = -1;
  ~ReplyPort();
};

struct RexxMsg {
  ReplyPort *mn_ReplyPort = nullptr;
  const char *rm_Args[kRexxArgSlots] = {};
  uint32_t rm_Action = 0;
  int32_t rm_Result1 = 0;
  std::optional<std::string> rm_Result2;
  std::string port_name;
  std::string extension;
};

RexxMsg *CreateRexxMsg(ReplyPort *reply_port, const char *extension,
                       const char *host);
void DeleteRexxMsg(RexxMsg *message);
struct DeleteRexxMsgDeleter {
  void operator()(RexxMsg *message) const { DeleteRexxMsg(message); }
};
using RexxMsgHandle = std::unique_ptr<RexxMsg, DeleteRexxMsgDeleter>;

// Sends the message over the port's kept connection, which becomes the
// message's reply port, or over a fresh one when it was taken.
bool PutMsg(MsgPort *port, RexxMsg *message);
// The socket file of a port in a usable port directory; false, with the
// reason, otherwise.
bool PortPath(const char *name, std::string &path, std::string *why);

// Blocks until the host's reply is on the reply port and fills rm_Result1 and
// rm_Result2. False, with no result, when the host closed the connection
// before a whole reply or replied malformed. A break ends the tool.
bool WaitPort(RexxMsg *message);


