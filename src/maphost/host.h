// The stand-in map application: serves its public port, answers the two
// map commands and keeps what it receives.
#pragma once

#include <cstdio>
#include <string>

#include "maphost/gpx.h"
#include "platform/port_host.h"
#include "platform/ports.h"

constexpr int kReceiveTimeoutMs = 10000;
constexpr int32_t kCommandFailed = 10;

struct HostState {
  bool quiet = false;
  std::string gpx_path; // empty: keep nothing
  GpxDocument gpx;
  long waypoints = 0;
  long pictures = 0;
};

// The reply to one command; accepted commands go into the GPX document,
// which is rewritten before the reply.
WireReply HandleCommand(HostState &state, const WireMessage &message);

// A command as one printable line: control bytes as \n, \t, \xNN.
std::string PrintableLine(const std::string &command);

// Prints one line on the host's console: false, having said so, when the
// console cannot be written.
bool PrintHostLine(const std::string &line);

// Serves until *stop becomes true; false when it stopped because the
// console was lost.
bool ServePort(PublicPort &port, HostState &state, const volatile int *stop);
