// The host's files: modes kept, no planted link followed, one lock a file.
#include "maphost/files/kept_file.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>

#include "maphost/store/journal.h"
#include "test_support.h"

namespace {

mode_t mode_of(const std::string &path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Root keeps another user's file as theirs; a user keeps their own.
TEST(KeptFile, ARewriteKeepsItsOwnerAndMode) {
  TempDir dir;
  std::string shared = dir / "shared.gpx", why;
  uid_t owner = getuid() == 0 ? 65534 : getuid();
  ASSERT_TRUE(WriteFile(shared, "old") && chown(shared.c_str(), owner, owner) == 0 && chmod(shared.c_str(), 0640) == 0);
  {
    KeptFile kept;
    ASSERT_TRUE(OpenKeptFile(shared, kept, &why)) << why;
    EXPECT_EQ(ReadKeptFile(kept), "old");
    ASSERT_TRUE(ReplaceKeptFile(kept, "n", &why)) << why; // a write of one byte is whole
  }
  struct stat info {};
  EXPECT_EQ(ReadFileText(shared), "n");
  EXPECT_TRUE(stat(shared.c_str(), &info) == 0 && info.st_uid == owner) << info.st_uid;
  EXPECT_EQ(mode_of(shared), 0640u);
}

TEST(KeptFile, ANewFileIsPrivateAndNamedByItsRealPath) {
  TempDir dir;
  std::string why;
  mkdir((dir / "sub").c_str(), 0700);
  KeptFile made;
  ASSERT_TRUE(OpenKeptFile(dir / "sub/../fresh.gpx", made, &why)) << why;
  EXPECT_EQ(made.path, dir / "fresh.gpx");
  ASSERT_TRUE(ReplaceKeptFile(made, "made", &why)) << why;
  EXPECT_EQ(mode_of(dir / "fresh.gpx"), 0600u);
}

// Where the temporary file once went, and where the journal goes.
TEST(KeptFile, LinksPlantedBesideItAreNeverFollowed) {
  TempDir dir;
  std::string gpx = dir / "trip.gpx", victim = dir / "victim", why;
  ASSERT_TRUE(WriteFile(gpx, "old") && WriteFile(victim, "victim's"));
  ASSERT_EQ(symlink(victim.c_str(), (gpx + ".tmp." + std::to_string(getpid())).c_str()), 0);
  ASSERT_EQ(symlink(victim.c_str(), (gpx + ".journal").c_str()), 0);
  KeptFile kept;
  Journal journal;
  ASSERT_TRUE(OpenKeptFile(gpx, kept, &why) && ReplaceKeptFile(kept, "new", &why)) << why;
  EXPECT_FALSE(OpenJournal(gpx, journal, &why));
  EXPECT_EQ(ReadFileText(victim), "victim's");
  EXPECT_EQ(ReadFileText(gpx), "new");
}

TEST(KeptFile, NoRegularFileNorAReadOnlyOneIsTaken) {
  TempDir dir;
  std::string gpx = dir / "trip.gpx", why;
  ASSERT_TRUE(WriteFile(gpx, "old") && mkfifo((gpx + ".journal").c_str(), 0600) == 0);
  Journal journal;
  EXPECT_FALSE(OpenJournal(gpx, journal, &why));
  EXPECT_NE(why.find("not this user's journal"), std::string::npos) << why;
  KeptFile refused;
  EXPECT_FALSE(OpenKeptFile(gpx + ".journal", refused, &why)); // nor a FIFO as a kept file
  chmod(gpx.c_str(), 0444);
  EXPECT_FALSE(OpenKeptFile(gpx, refused, &why));
  EXPECT_NE(why.find("read-only"), std::string::npos) << why;
  EXPECT_EQ(ReadFileText(gpx), "old");
}

// A user's own file in a group not theirs: a copy could not keep its group, so it stays.
TEST(KeptFile, OneWhoseGroupACopyCannotKeepStaysAsItIs) {
  if (getuid() != 0)
    GTEST_SKIP() << "needs root to make another user's folder";
  TempDir dir;
  std::string theirs = dir / "theirs.gpx", why;
  ASSERT_TRUE(chown(dir.path.c_str(), 65534, 65534) == 0 && WriteFile(theirs, "old") && chown(theirs.c_str(), 65534, 0) == 0);
  pid_t child = fork();
  if (child == 0) {
    KeptFile kept;
    _exit(setresgid(65534, 65534, 65534) == 0 && setresuid(65534, 65534, 65534) == 0 &&
          OpenKeptFile(theirs, kept, &why) && !ReplaceKeptFile(kept, "new", &why) ? 0 : 1);
  }
  int status = 0;
  EXPECT_TRUE(waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadFileText(theirs), "old");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1); // no copy left behind
}

// "user::rw- user:65534:--- group::r-- mask::r-- other::---" as the kernel stores it.
std::string deny_nobody_acl() {
  std::string acl = {2, 0, 0, 0}; // version 2, then tag, permissions, id: 16, 16 and 32 bits, little-endian
  const int entries[][3] = {{0x01, 6, -1}, {0x02, 0, 65534}, {0x04, 4, -1}, {0x10, 4, -1}, {0x20, 0, -1}};
  for (const auto &[tag, permissions, id] : entries)
    for (uint32_t field : {uint32_t(tag) | uint32_t(permissions) << 16, uint32_t(id)})
      acl += std::string{char(field), char(field >> 8), char(field >> 16), char(field >> 24)};
  return acl;
}

// A rewrite keeps the access control list (another user kept out stays out) and other attributes.
TEST(KeptFile, AnAccessListAndAttributesSurviveARewrite) {
  TempDir dir;
  std::string gpx = dir / "trip.gpx", why, acl = deny_nobody_acl();
  ASSERT_TRUE(WriteFile(gpx, "old"));
  if (setxattr(gpx.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) || setxattr(gpx.c_str(), "user.note", "trip", 4, 0))
    GTEST_SKIP() << "no access control lists or user attributes here";
  KeptFile kept;
  ASSERT_TRUE(OpenKeptFile(gpx, kept, &why) && ReplaceKeptFile(kept, "new", &why)) << why;
  char got[64];
  EXPECT_EQ(std::string(got, std::max<ssize_t>(0, getxattr(gpx.c_str(), "system.posix_acl_access", got, sizeof got))), acl);
  EXPECT_EQ(getxattr(gpx.c_str(), "user.note", got, sizeof got), 4);
}

// The lock belongs to the open file: opening and closing the file elsewhere (a picture linked to it) keeps it.
TEST(KeptFile, TheLockHoldsWhateverElseOpensAndClosesTheFile) {
  TempDir dir;
  std::string gpx = dir / "trip.gpx", why;
  KeptFile kept, second;
  ASSERT_TRUE(OpenKeptFile(gpx, kept, &why)) << why;
  close(open(gpx.c_str(), O_RDONLY));
  EXPECT_FALSE(OpenKeptFile(gpx, second, &why));
  EXPECT_NE(why.find("kept by another host"), std::string::npos) << why;
  Journal journal, again;
  ASSERT_TRUE(OpenJournal(gpx, journal, &why)) << why;
  EXPECT_FALSE(OpenJournal(gpx, again, &why));
  EXPECT_NE(why.find("kept by another host"), std::string::npos) << why;
}

// A file with a second name, or another user's link in a sticky folder open to all, is refused.
TEST(KeptFile, HardLinksAndOtherUsersLinksInASharedFolderAreRefused) {
  TempDir dir;
  std::string gpx = dir / "trip.gpx", why;
  ASSERT_TRUE(WriteFile(gpx, "") && WriteFile(dir / "other", "other's"));
  ASSERT_EQ(link(gpx.c_str(), (dir / "second-name").c_str()), 0);
  ASSERT_EQ(link((dir / "other").c_str(), (gpx + ".journal").c_str()), 0);
  KeptFile kept;
  Journal journal;
  EXPECT_FALSE(OpenKeptFile(gpx, kept, &why));
  EXPECT_NE(why.find("other names"), std::string::npos) << why;
  EXPECT_FALSE(OpenJournal(gpx, journal, &why));
  EXPECT_EQ(ReadFileText(dir / "other"), "other's");
  if (getuid() != 0)
    GTEST_SKIP() << "a link of another user's needs root";
  std::string shared = dir / "s", theirs = "s/theirs.gpx", mine = shared + "/mine.gpx"; // a one-letter folder
  ASSERT_EQ(chdir(dir.path.c_str()), 0);
  ASSERT_TRUE(mkdir(shared.c_str(), 0777) == 0 && chmod(shared.c_str(), 01777) == 0 && WriteFile(dir / "target.gpx", ""));
  ASSERT_TRUE(symlink((dir / "target.gpx").c_str(), theirs.c_str()) == 0 && lchown(theirs.c_str(), 65534, 65534) == 0);
  ASSERT_EQ(symlink((dir / "target.gpx").c_str(), mine.c_str()), 0);
  EXPECT_FALSE(OpenKeptFile(theirs, kept, &why));
  EXPECT_NE(why.find("another user's link"), std::string::npos) << why;
  EXPECT_TRUE(OpenKeptFile(mine, kept, &why)) << why; // one's own link is followed
}

} // namespace
