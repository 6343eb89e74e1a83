// The platform's file-system calls, built on POSIX: locks on paths, the
// FileInfoBlock and directory listing one entry at a time.
#pragma once

#include <cstdint>
#include <dirent.h>
#include <memory>
#include <sys/types.h>

// fib_DirEntryType values: greater than 0 is a directory, 0 or less a file.
constexpr int32_t ST_USERDIR = 2;
constexpr int32_t ST_LINKDIR = 4;  // a symbolic link to a directory
constexpr int32_t ST_FILE = -3;
constexpr int32_t ST_LINKFILE = -4; // a symbolic link to a regular file
constexpr int32_t ST_SPECIAL = -5;  // FIFO, socket, device or dangling link

constexpr int32_t ACCESS_READ = -2;
constexpr uint32_t DOS_FIB = 2;

struct FileInfoBlock {
  int32_t fib_DirEntryType;
  char fib_FileName[256]; // a Linux name is at most 255 bytes
  // Identity of the locked object, filled by Examine; 0 from ExNext.
  dev_t fib_Device;
  ino_t fib_Inode;
  // A file entry already opened for reading, its head requested from the
  // disk ahead of time; -1 if none. Whoever takes it closes it.
  int fib_ReadAhead;
};

// How many entries ExNext reads ahead of the one it yields: their files'
// heads load from disk while earlier pictures are parsed.
constexpr int kReadAheadEntries = 16;
constexpr long kReadAheadBytes = 64 * 1024;

// Whether reading a file's head had to wait for the disk. The heads of
// files opened ahead are requested from the disk (a system call each) while
// reads wait: each wait earns the next kHintsPerWait files a request, and
// each read that did not wait takes one away. Safe to call from any thread.
constexpr int kHintsPerWait = 16;
void NoteHeadRead(bool waited);

struct FileLock {
  int fd = -1;            // O_PATH descriptor: never blocks, reads nothing
  DIR *listing = nullptr; // opened by the first ExNext
  bool listing_done = false;
  int listing_error = 0; // errno of a listing that could not go on
  FileInfoBlock ahead[kReadAheadEntries]; // a ring of entries read ahead
  int ahead_first = 0;
  int ahead_count = 0;
};
using BPTR = FileLock *;

void *AllocDosObject(uint32_t type, void *tags);
void FreeDosObject(uint32_t type, void *object);

BPTR Lock(const char *name, int32_t mode);
void UnLock(BPTR lock);
// Why the last Lock, Examine or ExNext on this thread failed: an errno
// value, or 0 when ExNext simply reached the listing's end.
int IoErr();

// Fills the block for the locked object itself.
bool Examine(BPTR lock, FileInfoBlock *fib);
// Fills the block with the directory's next entry, skipping "." and "..";
// false at the end of the listing or on any error.
bool ExNext(BPTR lock, FileInfoBlock *fib);

// The listed entry's type once links are followed (a dangling link is
// special): as the listing says, else from the entry itself, as on file
// systems whose listings do not say.
void DescribeEntry(int dir_fd, const struct dirent *entry, FileInfoBlock *fib);

// The last component of a path: what follows the last "/".
const char *FilePart(const char *path);

struct UnLockDeleter {
  void operator()(FileLock *lock) const { UnLock(lock); }
};
struct FreeFibDeleter {
  void operator()(FileInfoBlock *fib) const { FreeDosObject(DOS_FIB, fib); }
};
using LockHandle = std::unique_ptr<FileLock, UnLockDeleter>;
using FibHandle = std::unique_ptr<FileInfoBlock, FreeFibDeleter>;
