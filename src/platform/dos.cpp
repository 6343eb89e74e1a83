#include "platform/dos.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/console.h"

namespace {

// Files still to be opened with their heads requested from the disk; the
// first ones are, until reads show whether the tree is cached.
constexpr int kMostHints = 1024;
std::atomic<int> hints_due{4 * kHintsPerWait};
thread_local int last_error = 0;

// Records errno as the reason of the failure, for IoErr.
bool fail() {
  last_error = errno;
  return false;
}

int32_t type_of_mode(mode_t mode) {
  if (S_ISDIR(mode))
    return ST_USERDIR;
  return S_ISREG(mode) ? ST_FILE : ST_SPECIAL;
}

bool is_dot_or_dotdot(const char *name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void copy_name(FileInfoBlock *fib, const char *name) {
  size_t length = strnlen(name, sizeof fib->fib_FileName - 1);
  memcpy(fib->fib_FileName, name, length);
  fib->fib_FileName[length] = '\0';
}

} // namespace

void DescribeEntry(int dir_fd, const struct dirent *entry, FileInfoBlock *fib) {
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
}

namespace {

// A listing that cannot be opened is done at once, with its reason.
void open_listing(BPTR lock) {
  int fd = openat(lock->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  lock->listing = fd < 0 ? nullptr : fdopendir(fd);
  if (lock->listing)
    return;
  lock->listing_error = errno;
  lock->listing_done = true;
  if (fd >= 0)
    close(fd);
}

// Opens a file entry and asks the kernel to start reading its head.
// Non-blocking, so an entry swapped for a FIFO meanwhile cannot hang.
int open_ahead(int dir_fd, const FileInfoBlock &entry) {
  if (entry.fib_DirEntryType != ST_FILE && entry.fib_DirEntryType != ST_LINKFILE)
    return -1;
  int fd = openat(dir_fd, entry.fib_FileName,
                  O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0 && hints_due.load(std::memory_order_relaxed) > 0)
    posix_fadvise(fd, 0, kReadAheadBytes, POSIX_FADV_WILLNEED);
  return fd;
}

// Appends the listing's next entry to the ring, or marks the listing done.
void read_ahead(BPTR lock) {
  const struct dirent *entry;
  do {
    errno = 0;
    entry = readdir(lock->listing);
    if (!entry) {
      lock->listing_done = true;
      lock->listing_error = errno;
      return;
    }
  } while (is_dot_or_dotdot(entry->d_name));
  int slot = (lock->ahead_first + lock->ahead_count) % kReadAheadEntries;
  FileInfoBlock &next = lock->ahead[slot];
  copy_name(&next, entry->d_name);
  DescribeEntry(dirfd(lock->listing), entry, &next);
  next.fib_ReadAhead = open_ahead(dirfd(lock->listing), next);
  lock->ahead_count++;
}

} // namespace

void NoteHeadRead(bool waited) {
  // Relaxed and racy on purpose: it only steers a hint.
  int due = hints_due.load(std::memory_order_relaxed);
  due = waited ? std::min(due + kHintsPerWait, kMostHints) : std::max(due - 1, 0);
  hints_due.store(due, std::memory_order_relaxed);
}

void *AllocDosObject(uint32_t type, void *) {
  if (type != DOS_FIB)
    return nullptr;
  return new (std::nothrow) FileInfoBlock{};
}

void FreeDosObject(uint32_t type, void *object) {
  if (type == DOS_FIB)
    delete static_cast<FileInfoBlock *>(object);
}

int IoErr() { return last_error; }

BPTR Lock(const char *name, int32_t) {
  int fd = open(name, O_PATH | O_CLOEXEC);
  if (fd < 0) {
    fail();
    return nullptr;
  }
  auto *lock = new (std::nothrow) FileLock;
  if (!lock) {
    close(fd);
    return nullptr;
  }
  lock->fd = fd;
  return lock;
}

void UnLock(BPTR lock) {
  if (!lock)
    return;
  if (lock->listing)
    closedir(lock->listing);
  for (int i = 0; i < lock->ahead_count; ++i) {
    int fd = lock->ahead[(lock->ahead_first + i) % kReadAheadEntries].fib_ReadAhead;
    if (fd >= 0)
      close(fd);
  }
  close(lock->fd);
  delete lock;
}

bool Examine(BPTR lock, FileInfoBlock *fib) {
  struct stat info;
  if (!lock || fstat(lock->fd, &info) != 0)
    return fail();
  fib->fib_DirEntryType = type_of_mode(info.st_mode);
  fib->fib_Device = info.st_dev;
  fib->fib_Inode = info.st_ino;
  fib->fib_ReadAhead = -1;
  copy_name(fib, "");
  return true;
}

bool ExNext(BPTR lock, FileInfoBlock *fib) {
  CheckBreak();
  if (!lock->listing && !lock->listing_done)
    open_listing(lock);
  while (!lock->listing_done && lock->ahead_count < kReadAheadEntries)
    read_ahead(lock);
  if (lock->ahead_count == 0) {
    last_error = lock->listing_error;
    return false;
  }
  *fib = lock->ahead[lock->ahead_first];
  lock->ahead_first = (lock->ahead_first + 1) % kReadAheadEntries;
  lock->ahead_count--;
  return true;
}

const char *FilePart(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}
