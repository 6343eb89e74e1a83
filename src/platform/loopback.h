// 127.0.0.1: where the web view listens, and how a client on this machine
// reaches it.
#pragma once

#include <netinet/in.h>

// The IPv4 loopback address at port (0: any, for bind).
sockaddr_in LoopbackAddress(int port);
// A blocking TCP connection to 127.0.0.1 at port, or -1.
int ConnectLoopback(int port);
