#include "run/walk.h"

#include <cstring>
#include <string>

#include "platform/console.h"
#include "platform/dos.h"
#include "run/survey.h"

namespace {

// The directories open above the current level: a link (or a mount) that
// leads back into one of them would walk the same pictures again.
struct OpenDirectories {
  dev_t device[kDeepestLevel + 1];
  ino_t inode[kDeepestLevel + 1];
  int count = 0;

  bool contains(dev_t dev, ino_t ino) const {
    for (int i = 0; i < count; ++i)
      if (device[i] == dev && inode[i] == ino)
        return true;
    return false;
  }
};

struct Walk {
  Survey &survey;
  GeoRecord &record;
  OpenDirectories open;
};

// DIR that cannot be read ends the run with kRunFailed; a directory below
// it is named, and the walk goes on to end with kRunWarned.
void cannot_read(Walk &walk, const char *path, int level) {
  const char *reason = strerror(IoErr() ? IoErr() : EIO);
  if (level == 0) {
    PrintError("cannot open %s: %s\n", ShownOnError(path).c_str(), reason);
    walk.record.run_code = kRunFailed;
  } else {
    PrintError("cannot list %s: %s\n", ShownOnError(path).c_str(), reason);
    walk.record.run_code = kRunWarned;
  }
}

void walk_level(const char *path, int level, Walk &walk);

void visit_entry(const FileInfoBlock &fib, const char *entry_path, int level, Walk &walk) {
  if (fib.fib_DirEntryType > 0) {
    if (level < kDeepestLevel)
      walk_level(entry_path, level + 1, walk);
  } else if (fib.fib_DirEntryType == ST_SPECIAL) {
    SurveyUnreadable(walk.survey, entry_path);
  } else {
    SurveyFile(walk.survey, entry_path, fib.fib_ReadAhead);
  }
}

void walk_level(const char *path, int level, Walk &walk) {
  Survey &survey = walk.survey;
  OpenDirectories &open = walk.open;
  FibHandle fib(static_cast<FileInfoBlock *>(AllocDosObject(DOS_FIB, nullptr)));
  if (!fib)
    return;
  LockHandle lock(Lock(path, ACCESS_READ));
  if (!lock || !Examine(lock.get(), fib.get())) {
    cannot_read(walk, path, level);
    return;
  }
  if (fib->fib_DirEntryType <= 0) {
    if (fib->fib_DirEntryType == ST_SPECIAL)
      SurveyUnreadable(survey, path);
    else
      SurveyFile(survey, path, -1);
    return;
  }
  if (open.contains(fib->fib_Device, fib->fib_Inode))
    return;
  open.device[open.count] = fib->fib_Device;
  open.inode[open.count] = fib->fib_Inode;
  open.count++;
  std::string entry_path = path;
  entry_path += '/';
  const size_t prefix = entry_path.size();
  while (ExNext(lock.get(), fib.get())) {
    entry_path.resize(prefix);
    entry_path += fib->fib_FileName;
    visit_entry(*fib, entry_path.c_str(), level, walk);
  }
  if (IoErr() != 0)
    cannot_read(walk, path, level);
  open.count--;
}

} // namespace

void WalkTree(const char *path, GeoRecord &record) {
  SurveyHandle survey = StartSurvey(record);
  Walk walk{*survey, record, {}};
  walk_level(path, 0, walk);
}
