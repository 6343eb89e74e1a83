// The file-system calls' failures, as the survey's workers read them.
#include "platform/dos.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "test_support.h"

namespace {

// Each worker reads its own failure, never another's.
TEST(Dos, IoErrIsPerThread) {
  EXPECT_EQ(Lock("/nowhere/at/all", ACCESS_READ), nullptr);
  EXPECT_EQ(IoErr(), ENOENT);
  int seen = -1;
  std::thread([&seen] { seen = IoErr(); }).join();
  EXPECT_EQ(seen, 0);
}

// Listed with no type, as some file systems list: each entry is looked at itself.
TEST(Dos, EntriesListedWithoutATypeAreLookedAt) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "f", "") && mkdir((dir / "d").c_str(), 0700) == 0 && mkfifo((dir / "p").c_str(), 0600) == 0);
  ASSERT_TRUE(symlink("f", (dir / "lf").c_str()) == 0 && symlink("d", (dir / "ld").c_str()) == 0 && symlink("x", (dir / "lx").c_str()) == 0);
  int fd = open(dir.path.c_str(), O_RDONLY | O_DIRECTORY);
  for (auto [name, type] : {std::pair{"f", ST_FILE}, {"d", ST_USERDIR}, {"p", ST_SPECIAL}, {"lf", ST_LINKFILE},
                            {"ld", ST_LINKDIR}, {"lx", ST_SPECIAL}}) {
    dirent entry{};
    entry.d_type = DT_UNKNOWN;
    strcpy(entry.d_name, name);
    FileInfoBlock fib{};
    DescribeEntry(fd, &entry, &fib);
    EXPECT_EQ(fib.fib_DirEntryType, type) << name;
  }
  close(fd);
}

} // namespace
