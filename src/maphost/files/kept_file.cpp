#include "maphost/files/kept_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/descriptor.h"
#include "platform/file_lock.h"
#include "platform/paths.h"
#include "platform/whole_file.h"

namespace {

// The old file's extended attributes, its access control list among them,
// onto the new one; false when one cannot be carried over. The security
// namespace stays as the system labels the new file.
bool copy_attributes(int from, int to) {
  ssize_t length = flistxattr(from, nullptr, 0);
  if (length < 0)
    return errno == ENOTSUP;
  std::string names(static_cast<size_t>(length), '\0'), value;
  length = flistxattr(from, names.data(), names.size());
  if (length < 0) // grown since: the file is not replaced without them
    return false;
  for (size_t at = 0; at < static_cast<size_t>(length); at += strlen(&names[at]) + 1) {
    const char *name = &names[at];
    if (strncmp(name, "security.", 9) == 0)
      continue;
    ssize_t size = fgetxattr(from, name, nullptr, 0);
    value.resize(static_cast<size_t>(std::max<ssize_t>(size, 0)));
    if (size < 0 || fgetxattr(from, name, value.data(), value.size()) != size ||
        fsetxattr(to, name, value.data(), value.size(), 0) != 0)
      return false;
  }
  return length >= 0;
}

// The rename itself reaches the disk: a power loss keeps the old file or
// the new one.
void sync_directory(const std::string &path) {
  Descriptor directory(open(path.substr(0, path.rfind('/') + 1).c_str(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.fd >= 0)
    fsync(directory.fd);
}

// A link that the kernel's symlink protection would not follow: another
// user's, in a sticky folder open to all that is not that user's either.
bool planted_link(const std::string &given) {
  struct stat link, folder;
  size_t slash = given.rfind('/');
  std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : given.substr(0, slash);
  return lstat(given.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && link.st_uid != geteuid() &&
         stat(directory.c_str(), &folder) == 0 && (folder.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH) &&
         folder.st_uid != link.st_uid;
}

bool fail(std::string *why, const std::string &what) {
  *why = what + ": " + strerror(errno);
  return false;
}

} // namespace

KeptFile::~KeptFile() {
  if (fd < 0)
    return;
  if (created)
    unlink(path.c_str());
  close(fd);
}

bool OpenKeptFile(const std::string &given, KeptFile &file, std::string *why) {
  if (planted_link(given)) {
    *why = given + " is another user's link in a shared folder; it is left as it is";
    return false;
  }
  file.path = RealPathOfNew(given);
  Descriptor fd(open(file.path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (fd.fd < 0 && errno == ENOENT) {
    fd.reset(open(file.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    file.created = fd.fd >= 0;
  }
  struct stat info;
  if (fd.fd < 0 || fstat(fd.fd, &info) != 0)
    return fail(why, given);
  if (!S_ISREG(info.st_mode)) {
    *why = given + " is not a regular file; it is left as it is";
    return false;
  }
  if (!(info.st_mode & S_IWUSR)) {
    *why = given + " is read-only; it is left as it is";
    return false;
  }
  if (!LockForProcess(fd.fd)) {
    pid_t holder = LockHolder(fd.fd);
    *why = given + " is kept by another host" + (holder ? " (process " + std::to_string(holder) + ")" : "");
    return false;
  }
  if (info.st_nlink != 1) {
    *why = given + " has other names (hard links); it is left as it is";
    return false;
  }
  fcntl(fd.fd, F_SETFL, 0); // blocking again
  file.fd = fd.release();
  return true;
}

std::string ReadKeptFile(const KeptFile &file, size_t most) {
  std::string contents;
  ReadWholeFile(file.fd, contents, most); // what could be read, as a reader would see it
  return contents;
}

bool ReplaceKeptFile(KeptFile &file, const std::string &contents, std::string *why) {
  return ReplaceKeptFile(file, [&](int fd) { return WriteAll(fd, contents); }, why);
}

bool ReplaceKeptFile(KeptFile &file, const std::function<bool(int fd)> &write, std::string *why) {
  struct stat old;
  if (fstat(file.fd, &old) != 0)
    return fail(why, file.path);
  size_t slash = file.path.rfind('/');
  std::string temporary = file.path.substr(0, slash + 1) + "." + file.path.substr(slash + 1) + ".XXXXXX";
  Descriptor fd(mkostemp(temporary.data(), O_CLOEXEC)); // O_EXCL, mode 0600
  if (fd.fd < 0)
    return fail(why, file.path);
  // Owner and group first: a change of owner clears the set-id bits.
  bool owned = fchown(fd.fd, old.st_uid, old.st_gid) == 0 ||
               (old.st_uid == geteuid() && old.st_gid == getegid());
  bool ok = owned && write(fd.fd) && fchmod(fd.fd, old.st_mode & 07777) == 0 &&
            copy_attributes(file.fd, fd.fd) && fdatasync(fd.fd) == 0 && LockForProcess(fd.fd) &&
            rename(temporary.c_str(), file.path.c_str()) == 0;
  if (!ok) {
    int saved = owned ? errno : EPERM;
    unlink(temporary.c_str());
    errno = saved;
    return fail(why, file.path);
  }
  close(file.fd);
  file.fd = fd.release();
  file.created = false;
  sync_directory(file.path);
  return true;
}
