// Unix-domain stream sockets as the ports use them: non-blocking, every
// wait sliced so that a break is seen.
#pragma once

#include <string>
#include <sys/un.h>

constexpr int kPollSliceMs = 200; // how often a blocked wait looks at a break

// False when path does not fit a socket address.
bool MakeSocketAddress(const std::string &path, sockaddr_un &address);
// A non-blocking stream socket connected to path, or -1. A host whose queue
// is full is alive: keep trying, honouring a break.
int ConnectStream(const std::string &path);
// Sends all bytes, waiting while the peer's buffer is full.
bool SendAll(int fd, const std::string &bytes);
// Reads what is there into buffer: 1 bytes read, 0 peer closed, -1 nothing
// yet, -2 error.
int ReadSome(int fd, std::string &buffer);
long long MonotonicMs();
