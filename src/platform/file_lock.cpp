#include "platform/file_lock.h"

#include <fcntl.h>

namespace {

// The lock is an open-file-description lock on the first byte. A classic
// lock on the second byte only names the holder: F_OFD_GETLK cannot, and
// any close of the file drops the classic one, never the other.
constexpr off_t kExclusiveByte = 0, kNamingByte = 1;

struct flock byte_lock(off_t at) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = at;
  lock.l_len = 1;
  return lock;
}

} // namespace

bool LockForProcess(int fd) {
  struct flock exclusive = byte_lock(kExclusiveByte), naming = byte_lock(kNamingByte);
  if (fcntl(fd, F_OFD_SETLK, &exclusive) != 0)
    return false;
  (void)fcntl(fd, F_SETLK, &naming);
  return true;
}

pid_t LockHolder(int fd) {
  struct flock naming = byte_lock(kNamingByte);
  return fcntl(fd, F_GETLK, &naming) == 0 && naming.l_type != F_UNLCK ? naming.l_pid : 0;
}
