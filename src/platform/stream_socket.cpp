#include "platform/stream_socket.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "platform/console.h"
#include "platform/descriptor.h"

bool MakeSocketAddress(const std::string &path, sockaddr_un &address) {
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return false;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

int ConnectStream(const std::string &path) {
  sockaddr_un address;
  if (!MakeSocketAddress(path, address))
    return -1;
  Descriptor sock(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (sock.fd < 0)
    return -1;
  for (;;) {
    if (connect(sock.fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0)
      return sock.release();
    if (errno != EAGAIN && errno != EINTR)
      return -1;
    CheckBreak();
    poll(nullptr, 0, 10);
  }
}

bool SendAll(int fd, const std::string &bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      return false;
    CheckBreak(); // a peer that reads nothing must not hold a break
    pollfd ready{fd, POLLOUT, 0};
    poll(&ready, 1, kPollSliceMs);
  }
  return true;
}

int ReadSome(int fd, std::string &buffer) {
  char chunk[4096];
  ssize_t n = read(fd, chunk, sizeof chunk);
  if (n > 0) {
    buffer.append(chunk, static_cast<size_t>(n));
    return 1;
  }
  if (n == 0)
    return 0;
  return errno == EAGAIN || errno == EINTR ? -1 : -2;
}

long long MonotonicMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}
