#include "run/walk.h"

#include <string>

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

void walk_level(const char *path, int level, Survey &survey, OpenDirectories &open);

void visit_entry(const FileInfoBlock &fib, const char *entry_path, int level,
                 Survey &survey, OpenDirectories &open) {
  if (fib.fib_DirEntryType > 0) {
    if (level < kDeepestLevel)
      walk_level(entry_path, level + 1, survey, open);
  } else if (fib.fib_DirEntryType == ST_SPECIAL) {
    SurveyUnreadable(survey, entry_path);
  } else {
    SurveyFile(survey, entry_path, fib.fib_ReadAhead);
  }
}

void walk_level(const char *path, int level, Survey &survey, OpenDirectories &open) {
  FibHandle fib(static_cast<FileInfoBlock *>(AllocDosObject(DOS_FIB, nullptr)));
  if (!fib)
    return;
  LockHandle lock(Lock(path, ACCESS_READ));
  if (!lock || !Examine(lock.get(), fib.get()))
    return;
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
    visit_entry(*fib, entry_path.c_str(), level, survey, open);
  }
  open.count--;
}

} // namespace

void WalkTree(const char *path, GeoRecord &record) {
  OpenDirectories open;
  SurveyHandle survey = StartSurvey(record);
  walk_level(path, 0, *survey, open);
}
