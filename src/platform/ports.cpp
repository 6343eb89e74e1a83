#include "platform/ports.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include "platform/console.h"

namespace {

constexpr int kPollSliceMs = 200; // how often a blocked wait looks at a break
constexpr int kBacklog = 64;

bool make_address(const std::string &path, sockaddr_un &address) {
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return false;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

struct Socket {
  int fd = -1;
  explicit Socket(int descriptor) : fd(descriptor) {}
  ~Socket() {
    if (fd >= 0)
      close(fd);
  }
  int release() {
    int descriptor = fd;
    fd = -1;
    return descriptor;
  }
};

// A non-blocking stream socket connected to path, or -1. A host whose
// queue is full is alive: keep trying, honouring a break.
int connect_to(const std::string &path) {
  sockaddr_un address;
  if (!make_address(path, address))
    return -1;
  Socket sock(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (sock.fd < 0)
    return -1;
  for (;;) {
    if (connect(sock.fd, reinterpret_cast<sockaddr *>(&address),
                sizeof address) == 0)
      return sock.release();
    if (errno != EAGAIN && errno != EINTR)
      return -1;
    CheckBreak();
    poll(nullptr, 0, 10);
  }
}

bool send_all(int fd, const std::string &bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      return false;
    CheckBreak(); // a host that reads nothing must not hold a break
    pollfd ready{fd, POLLOUT, 0};
    poll(&ready, 1, kPollSliceMs);
  }
  return true;
}

// Reads what is there into buffer: >0 bytes read, 0 peer closed, -1 nothing
// yet, -2 error.
int read_some(int fd, std::string &buffer) {
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

long long now_ms() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

bool peer_is_own_user(int fd) {
  ucred credentials{};
  socklen_t length = sizeof credentials;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
         credentials.uid == geteuid();
}

// Reads one whole message within the time limit, or until *stop.
bool receive_message(int fd, WireMessage &message, int timeout_ms,
                     const volatile int *stop) {
  std::string buffer;
  long long deadline = now_ms() + timeout_ms;
  for (;;) {
    long long left = deadline - now_ms();
    if (left <= 0 || *stop)
      return false;
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(std::min<long long>(left, kPollSliceMs))) <= 0)
      continue;
    int got = read_some(fd, buffer);
    if (got == 0 || got == -2)
      return false;
    WireStatus status = DecodeMessage(buffer, message);
    if (status != WireStatus::NeedMore)
      return status == WireStatus::Complete;
  }
}

bool port_path(const char *name, std::string &path, std::string *why) {
  if (!ValidPortName(name)) {
    if (why)
      *why = "invalid port name";
    return false;
  }
  std::string directory = PortDirectory();
  if (!PortDirectoryUsable(directory, why))
    return false;
  path = directory + "/" + name;
  return true;
}

} // namespace

std::string PortDirectory() {
  const char *explicit_dir = getenv("REXX_PORT_DIR");
  if (explicit_dir && *explicit_dir)
    return explicit_dir;
  const char *runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime)
    return std::string(runtime) + "/rexx-ports";
  return "/tmp/rexx-ports-" + std::to_string(geteuid());
}

bool PortDirectoryUsable(const std::string &directory, std::string *why) {
  struct stat info;
  const char *problem = nullptr;
  if (lstat(directory.c_str(), &info) != 0)
    problem = "does not exist";
  else if (!S_ISDIR(info.st_mode))
    problem = "is not a directory";
  else if (info.st_uid != geteuid())
    problem = "belongs to another user";
  else if (info.st_mode & 077)
    problem = "is open to group or others (want mode 0700)";
  if (problem && why)
    *why = "port directory " + directory + " " + problem;
  return problem == nullptr;
}

bool ValidPortName(const char *name) {
  size_t length = strnlen(name, 101);
  return length >= 1 && length <= 100 && !strchr(name, '/') &&
         strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

std::unique_ptr<MsgPort> FindPort(const char *name) {
  std::string path;
  if (!port_path(name, path, nullptr))
    return nullptr;
  int fd = connect_to(path);
  if (fd < 0)
    return nullptr;
  close(fd); // a probe: the host drops a connection that sends nothing
  return std::make_unique<MsgPort>(MsgPort{name, path});
}

ReplyPort::~ReplyPort() {
  if (fd >= 0)
    close(fd);
}

RexxMsg *CreateRexxMsg(ReplyPort *reply_port, const char *extension,
                       const char *host) {
  if (!reply_port)
    return nullptr;
  auto *message = new (std::nothrow) RexxMsg;
  if (!message)
    return nullptr;
  message->mn_ReplyPort = reply_port;
  message->extension = extension ? extension : "";
  message->host_name = host ? host : "";
  return message;
}

void DeleteRexxMsg(RexxMsg *message) { delete message; }

bool PutMsg(const MsgPort *port, RexxMsg *message) {
  ReplyPort *reply = message->mn_ReplyPort;
  if (!port || !reply || reply->fd >= 0 || !message->rm_Args[0])
    return false;
  reply->fd = connect_to(port->path);
  if (reply->fd < 0)
    return false;
  WireMessage wire{message->rm_Action, message->rm_Args[0], message->host_name,
                   message->extension};
  return send_all(reply->fd, EncodeMessage(wire));
}

bool WaitPort(RexxMsg *message) {
  message->rm_Result2.reset();
  int fd = message->mn_ReplyPort ? message->mn_ReplyPort->fd : -1;
  if (fd < 0)
    return false;
  std::string buffer;
  for (;;) {
    CheckBreak();
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, kPollSliceMs) <= 0)
      continue;
    int got = read_some(fd, buffer);
    if (got == 0 || got == -2)
      return false;
    WireReply reply;
    WireStatus status = DecodeReply(buffer, reply);
    if (status == WireStatus::Malformed)
      return false;
    if (status == WireStatus::Complete) {
      message->rm_Result1 = reply.result1;
      message->rm_Result2 = std::move(reply.result2);
      return true;
    }
  }
}

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
  if (!port_path(name, port->path, why))
    return nullptr;
  sockaddr_un address;
  if (!make_address(port->path, address)) {
    *why = "port path " + port->path + " is too long for a socket";
    return nullptr;
  }
  struct stat info;
  if (lstat(port->path.c_str(), &info) == 0) {
    int probe = S_ISSOCK(info.st_mode) ? connect_to(port->path) : -1;
    if (probe >= 0 || !S_ISSOCK(info.st_mode)) {
      if (probe >= 0)
        close(probe);
      *why = "port " + std::string(name) + " is taken (" + port->path + ")";
      return nullptr;
    }
    unlink(port->path.c_str()); // stale: its host died
  }
  Socket sock(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (sock.fd < 0 ||
      bind(sock.fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      listen(sock.fd, kBacklog) != 0) {
    *why = "cannot open port " + port->path + ": " + strerror(errno);
    return nullptr;
  }
  port->listen_fd = sock.release();
  return port;
}

HostMsg::~HostMsg() {
  if (fd >= 0)
    close(fd);
}

HostWait GetMsg(PublicPort &port, HostMsg &into, const volatile int *stop,
                int receive_timeout_ms) {
  if (into.fd >= 0) {
    close(into.fd);
    into.fd = -1;
  }
  for (;;) {
    if (*stop)
      return HostWait::Stopped;
    pollfd ready{port.listen_fd, POLLIN, 0};
    if (poll(&ready, 1, kPollSliceMs) <= 0)
      continue;
    int fd = accept4(port.listen_fd, nullptr, nullptr,
                     SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
      continue;
    Socket peer(fd);
    if (!peer_is_own_user(fd) ||
        !receive_message(fd, into.message, receive_timeout_ms, stop))
      return HostWait::Again;
    into.fd = peer.release();
    return HostWait::Message;
  }
}

bool ReplyMsg(HostMsg &message, const WireReply &reply) {
  bool sent = message.fd >= 0 && send_all(message.fd, EncodeReply(reply));
  if (message.fd >= 0)
    close(message.fd);
  message.fd = -1;
  return sent;
}
