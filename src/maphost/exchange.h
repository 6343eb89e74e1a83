// The stand-in map application: serves its public port, answers the two
// map commands and keeps what it receives.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <sys/types.h>

#include "maphost/store/store.h"
#include "platform/ports.h"
#include "platform/public_port.h"

constexpr int kReceiveTimeoutMs = 10000;
constexpr int32_t kCommandFailed = 10;

struct HostState {
  bool quiet = false;
  bool keeping = false; // a file or the web view wants the positions
  Store store;
  long waypoints = 0;
  long pictures = 0;
};

// The reply to one command from process peer (0: unknown); an accepted
// command's position, when the store is kept, is journalled and returned
// in journalled, its picture attached, to be kept once the reply is sent.
WireReply HandleCommand(HostState &state, const WireMessage &message, pid_t peer,
                        std::optional<Position> &journalled);

// Prints one line on the host's console: false, having said so, when the
// console cannot be written.
bool PrintHostLine(const std::string &line);

// Serves until *stop becomes true; false when it stopped because the
// console was lost.
bool ServePort(PublicPort &port, HostState &state, const volatile sig_atomic_t *stop);
