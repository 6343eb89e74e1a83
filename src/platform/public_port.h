// The host's side of a public message port: owning it by name, taking one
// message per connection, replying. docs/ports.md has the contract.
#pragma once

#include <csignal>
#include <memory>
#include <string>
#include <sys/types.h>

#include "platform/wire.h"

struct PublicPort {
  std::string name;
  std::string path;
  int listen_fd = -1;
  ~PublicPort(); // closes and removes the socket file
};

// Creates the port directory if missing and owns the port; nullptr with the
// reason when the directory is unusable or the port is taken.
std::unique_ptr<PublicPort> CreatePublicPort(const char *name,
                                             std::string *why);

// One message that arrived at a public port, and the connection to reply on.
struct PortMessage {
  int fd = -1;
  pid_t peer = 0; // the sending process
  WireMessage message;
  ~PortMessage();
};

enum class PortWait { Message = 1, Stopped, Again }; // from 1: one made by default is no answer
// Waits for the next connection and reads its message. Connections from
// other users, closed early, malformed or silent for receive_timeout_ms are
// dropped and yield Again. Stopped when *stop became true.
PortWait GetMsg(PublicPort &port, PortMessage &into, const volatile sig_atomic_t *stop,
                int receive_timeout_ms);
bool ReplyMsg(PortMessage &message, const WireReply &reply);
