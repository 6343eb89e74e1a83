#include "platform/public_port.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/descriptor.h"
#include "platform/ports.h"
#include "platform/stream_socket.h"

namespace {

constexpr int kBacklog = 64;

// The peer's process when it runs as this user, else 0.
pid_t own_user_peer(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  bool own = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
             credentials.uid == OwnUid();
  return own ? credentials.pid : 0;
}

// Reads one whole message within the time limit, or until *stop.
bool receive_message(int fd, WireMessage &message, int timeout_ms,
                     const volatile sig_atomic_t *stop) {
  std::string buffer;
  long long deadline = MonotonicMs() + timeout_ms;
  for (;;) {
    // A client sends right after it connects: read first, wait only for
    // what is not there yet.
    int got = ReadSome(fd, buffer);
    if (got == 0 || got == -2)
      return false;
    WireStatus status = got > 0 ? DecodeMessage(buffer, message) : WireStatus::NeedMore;
    if (status != WireStatus::NeedMore)
      return status == WireStatus::Complete;
    long long left = deadline - MonotonicMs();
    if (left <= 0 || *stop)
      return false;
    pollfd ready{fd, POLLIN, 0};
    poll(&ready, 1, static_cast<int>(std::min<long long>(left, kPollSliceMs)));
  }
}

} // namespace

PublicPort::~PublicPort() {
  if (listen_fd >= 0) {
    close(listen_fd);
    unlink(path.c_str());
  }
}

std::unique_ptr<PublicPort> CreatePublicPort(const char *name,
                                             std::string *why) {
  std::string directory = PortDirectory();
  if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
    *why = "cannot create port directory " + directory + ": " + strerror(errno);
    return nullptr;
  }
  auto port = std::make_unique<PublicPort>();
  port->name = name;
  if (!PortPath(name, port->path, why))
    return nullptr;
  sockaddr_un address;
  if (!MakeSocketAddress(port->path, address)) {
    *why = "port path " + port->path + " is too long for a socket";
    return nullptr;
  }
  struct stat info;
  if (lstat(port->path.c_str(), &info) == 0) {
    int probe = S_ISSOCK(info.st_mode) ? ConnectStream(port->path) : -1;
    if (probe >= 0 || !S_ISSOCK(info.st_mode)) {
      if (probe >= 0)
        close(probe);
      *why = "port " + std::string(name) + " is taken (" + port->path + ")";
      return nullptr;
    }
    unlink(port->path.c_str()); // stale: its host died
  }
  // accept() waits at most a slice, so a stop request is seen: one system
  // call a connection, where a poll before it would take two.
  timeval slice{0, kPollSliceMs * 1000};
  Descriptor sock(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (sock.fd < 0 ||
      setsockopt(sock.fd, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice) != 0 ||
      bind(sock.fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      listen(sock.fd, kBacklog) != 0) {
    *why = "cannot open port " + port->path + ": " + strerror(errno);
    return nullptr;
  }
  port->listen_fd = sock.release();
  return port;
}

PortMessage::~PortMessage() {
  if (fd >= 0)
    close(fd);
}

PortWait GetMsg(PublicPort &port, PortMessage &into, const volatile sig_atomic_t *stop,
                int receive_timeout_ms) {
  if (into.fd >= 0) {
    close(into.fd);
    into.fd = -1;
  }
  for (;;) {
    if (*stop)
      return PortWait::Stopped;
    int fd = accept4(port.listen_fd, nullptr, nullptr,
                     SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
      continue;
    Descriptor peer(fd);
    into.peer = own_user_peer(fd);
    if (into.peer == 0 ||
        !receive_message(fd, into.message, receive_timeout_ms, stop))
      return PortWait::Again;
    into.fd = peer.release();
    return PortWait::Message;
  }
}

bool ReplyMsg(PortMessage &message, const WireReply &reply) {
  bool sent = message.fd >= 0 && SendAll(message.fd, EncodeReply(reply));
  if (message.fd >= 0)
    close(message.fd);
  message.fd = -1;
  return sent;
}
