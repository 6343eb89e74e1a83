// A file kept by one process at a time.
#pragma once

#include <sys/types.h>

// Locks fd's file for this process until it ends or closes fd. The lock
// belongs to the open file, not to the process, so opening and closing the
// same file elsewhere in the process (a link to it, say) keeps it. False
// when another process holds it.
bool LockForProcess(int fd);

// The process that holds the lock on fd's file: its id, or 0 when none
// does or it cannot be told.
pid_t LockHolder(int fd);
