#include "platform/own_file.h"

#include "platform/descriptor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int OpenOwnFile(const std::string &path, int flags, const char *what, std::string *why) {
  Descriptor fd(open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
  struct stat info;
  if (fd.fd < 0 || fstat(fd.fd, &info) != 0) {
    *why = path + ": " + strerror(errno);
    return -1;
  }
  if (!S_ISREG(info.st_mode) || info.st_uid != geteuid() || info.st_nlink != 1) {
    *why = path + " is not this user's " + what + "; it is left as it is";
    return -1;
  }
  fcntl(fd.fd, F_SETFL, flags & O_APPEND);
  return fd.release();
}
