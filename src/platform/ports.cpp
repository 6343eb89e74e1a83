#include "platform/ports.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/console.h"
#include "platform/stream_socket.h"

bool PortPath(const char *name, std::string &path, std::string *why) {
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

uid_t OwnUid() {
  static const uid_t uid = geteuid();
  return uid;
}

std::string PortDirectory() {
  const char *explicit_dir = getenv("REXX_PORT_DIR");
  if (explicit_dir && *explicit_dir)
    return explicit_dir;
  const char *runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime)
    return std::string(runtime) + "/rexx-ports";
  return "/tmp/rexx-ports-" + std::to_string(OwnUid());
}

bool PortDirectoryUsable(const std::string &directory, std::string *why) {
  struct stat info;
  const char *problem = nullptr;
  if (lstat(directory.c_str(), &info) != 0)
    problem = "does not exist";
  else if (!S_ISDIR(info.st_mode))
    problem = "is not a directory";
  else if (info.st_uid != OwnUid())
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
  if (!PortPath(name, path, nullptr))
    return nullptr;
  int fd = ConnectStream(path);
  if (fd < 0)
    return nullptr;
  auto port = std::make_unique<MsgPort>();
  port->name = name;
  port->path = path;
  port->fd = fd;
  return port;
}

MsgPort::~MsgPort() {
  if (fd >= 0)
    close(fd); // a probe: the host drops a connection that sends nothing
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
  message->port_name = host ? host : "";
  return message;
}

void DeleteRexxMsg(RexxMsg *message) { delete message; }

bool PutMsg(MsgPort *port, RexxMsg *message) {
  ReplyPort *reply = message->mn_ReplyPort;
  if (!port || !reply || reply->fd >= 0 || !message->rm_Args[0])
    return false;
  reply->fd = port->fd >= 0 ? port->fd : ConnectStream(port->path);
  port->fd = -1;
  if (reply->fd < 0)
    return false;
  WireMessage wire{message->rm_Action, message->rm_Args[0], message->port_name,
                   message->extension};
  return SendAll(reply->fd, EncodeMessage(wire));
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
    int got = ReadSome(fd, buffer);
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

