#include "platform/dos.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/console.h"

namespace {

int32_t type_of_mode(mode_t mode) {
  if (S_ISDIR(mode))
    return ST_USERDIR;
  return S_ISREG(mode) ? ST_FILE : ST_SPECIAL;
}

void copy_name(FileInfoBlock *fib, const char *name) {
  size_t length = strnlen(name, sizeof fib->fib_FileName - 1);
  memcpy(fib->fib_FileName, name, length);
  fib->fib_FileName[length] = '\0';
}

// What an entry is once links are followed; a dangling link is special.
void describe_entry(int dir_fd, const struct dirent *entry,
                    FileInfoBlock *fib) {
  fib->fib_Device = 0;
  fib->fib_Inode = 0;
  if (entry->d_type == DT_DIR || entry->d_type == DT_REG) {
    fib->fib_DirEntryType = entry->d_type == DT_DIR ? ST_USERDIR : ST_FILE;
    return;
  }
  if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) {
    fib->fib_DirEntryType = ST_SPECIAL;
    return;
  }
  struct stat info;
  bool is_link = entry->d_type == DT_LNK;
  if (!is_link && fstatat(dir_fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0)
    is_link = S_ISLNK(info.st_mode);
  if (fstatat(dir_fd, entry->d_name, &info, 0) != 0) {
    fib->fib_DirEntryType = ST_SPECIAL;
    return;
  }
  int32_t type = type_of_mode(info.st_mode);
  if (is_link && type != ST_SPECIAL)
    type = type == ST_USERDIR ? ST_LINKDIR : ST_LINKFILE;
  fib->fib_DirEntryType = type;
  fib->fib_Device = info.st_dev;
  fib->fib_Inode = info.st_ino;
}

} // namespace

void *AllocDosObject(uint32_t type, void *) {
  if (type != DOS_FIB)
    return nullptr;
  return new (std::nothrow) FileInfoBlock{};
}

void FreeDosObject(uint32_t type, void *object) {
  if (type == DOS_FIB)
    delete static_cast<FileInfoBlock *>(object);
}

BPTR Lock(const char *name, int32_t) {
  int fd = open(name, O_PATH | O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  return new FileLock{fd, nullptr};
}

void UnLock(BPTR lock) {
  if (!lock)
    return;
  if (lock->listing)
    closedir(lock->listing);
  close(lock->fd);
  delete lock;
}

bool Examine(BPTR lock, FileInfoBlock *fib) {
  struct stat info;
  if (!lock || fstat(lock->fd, &info) != 0)
    return false;
  fib->fib_DirEntryType = type_of_mode(info.st_mode);
  fib->fib_Device = info.st_dev;
  fib->fib_Inode = info.st_ino;
  copy_name(fib, "");
  return true;
}

bool ExNext(BPTR lock, FileInfoBlock *fib) {
  CheckBreak();
  if (!lock->listing) {
    int fd = openat(lock->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
      return false;
    lock->listing = fdopendir(fd);
    if (!lock->listing) {
      close(fd);
      return false;
    }
  }
  for (;;) {
    errno = 0;
    const struct dirent *entry = readdir(lock->listing);
    if (!entry)
      return false;
    const char *name = entry->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
      continue;
    copy_name(fib, name);
    describe_entry(dirfd(lock->listing), entry, fib);
    return true;
  }
}

const char *FilePart(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}
