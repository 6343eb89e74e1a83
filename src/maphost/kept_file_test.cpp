// The host's files: modes kept, no planted link followed, one host a file.
#include "maphost/kept_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include "maphost/journal.h"
#include "test_support.h"

namespace {

TEST(KeptFile, ModesKeptNewFilesPrivateReadOnlyAndPlantedLinksLeftAlone) {
  TempDir dir;
  std::string shared = dir / "shared.gpx", fresh = dir / "sub/../fresh.gpx", victim = dir / "victim";
  ASSERT_TRUE(WriteFile(shared, "old") && WriteFile(victim, "victim's"));
  uid_t owner = getuid() == 0 ? 65534 : getuid(); // root keeps another user's file as theirs
  (void)!chown(shared.c_str(), owner, owner);
  chmod(shared.c_str(), 0640);
  // Where the temporary file once went, and where the journal goes.
  ASSERT_EQ(symlink(victim.c_str(), (shared + ".tmp." + std::to_string(getpid())).c_str()), 0);
  ASSERT_EQ(symlink(victim.c_str(), (dir / "fresh.gpx.journal").c_str()), 0);
  mkdir((dir / "sub").c_str(), 0700);
  std::string why;
  {
    KeptFile kept, made;
    ASSERT_TRUE(OpenKeptFile(shared, kept, &why)) << why;
    EXPECT_EQ(ReadKeptFile(kept), "old");
    ASSERT_TRUE(ReplaceKeptFile(kept, "n", &why)) << why; // a write of one byte is whole
    ASSERT_TRUE(OpenKeptFile(fresh, made, &why)) << why;
    EXPECT_EQ(made.path, dir / "fresh.gpx");
    ASSERT_TRUE(ReplaceKeptFile(made, "made", &why)) << why;
    Journal journal;
    EXPECT_FALSE(OpenJournal(made.path, journal, &why)); // a link: refused
    ASSERT_EQ(mkfifo((shared + ".journal").c_str(), 0600), 0);
    EXPECT_FALSE(OpenJournal(shared, journal, &why)); // no regular file: refused
    EXPECT_NE(why.find("not this user's journal"), std::string::npos) << why;
  }
  EXPECT_EQ(ReadFileText(shared), "n");
  struct stat info {};
  EXPECT_TRUE(stat(shared.c_str(), &info) == 0 && info.st_uid == owner && (info.st_mode & 07777) == 0640u);
  EXPECT_TRUE(stat((dir / "fresh.gpx").c_str(), &info) == 0 && (info.st_mode & 07777) == 0600u);
  EXPECT_EQ(ReadFileText(victim), "victim's");
  chmod(shared.c_str(), 0444);
  KeptFile refused;
  EXPECT_FALSE(OpenKeptFile(shared + ".journal", refused, &why)); // a FIFO
  EXPECT_FALSE(OpenKeptFile(shared, refused, &why));
  EXPECT_NE(why.find("read-only"), std::string::npos) << why;
  EXPECT_EQ(ReadFileText(shared), "n");
  {
    KeptFile unused; // created for a host that never wrote it: removed
    ASSERT_TRUE(OpenKeptFile(dir / "unused.gpx", unused, &why));
  }
  EXPECT_NE(access((dir / "unused.gpx").c_str(), F_OK), 0);
  if (getuid() != 0)
    return; // a user's own file in a group not theirs: a copy could not keep its group, so it stays
  std::string theirs = dir / "theirs.gpx";
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
}

// A second host naming a file another host keeps, through any spelling, is
// refused with the holder's process id; so is a document type.
TEST(KeptFile, OneHostPerFileThroughAnySpelling) {
  PrivatePorts ports;
  std::string gpx = ports.dir / "trip.gpx";
  MapHost host(ports, {"GPX=" + gpx});
  ASSERT_TRUE(WaitFor([&] { return ReadFileText(ports.dir / "host.out").find("serving") != std::string::npos; }));
  std::string link = ports.dir / "link.gpx", hard = ports.dir / "hard.gpx";
  ASSERT_EQ(symlink(gpx.c_str(), link.c_str()), 0);
  ASSERT_EQ(::link(gpx.c_str(), hard.c_str()), 0);
  PrivatePorts other; // a host of its own port
  for (const std::string &name : {std::string("trip.gpx"), link, hard}) {
    ProcessResult second = RunProcess({"/bin/sh", "-c", "cd \"$0\" && exec \"$1\" QUIET \"GPX=$2\"",
                                       ports.dir.path, MAPHOST_BIN, name}, {other.env_entry()});
    EXPECT_EQ(second.code, 10) << name;
    EXPECT_NE(second.err.find("kept by another host (process " + std::to_string(host.pid) + ")"),
              std::string::npos) << second.err;
  }
  std::string typed = other.dir / "typed.gpx";
  std::string document = "<?xml version=\"1.0\"?>\n<!DOCTYPE gpx [<!ENTITY place \"Rome\">]>\n"
                         "<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\">"
                         "<wpt lat=\"1\" lon=\"2\"><name>&place;</name></wpt></gpx>\n";
  ASSERT_TRUE(WriteFile(typed, document));
  ProcessResult entities = RunProcess({MAPHOST_BIN, "GPX=" + typed}, {other.env_entry()});
  EXPECT_EQ(entities.code, 10);
  EXPECT_EQ(ReadFileText(typed), document);
}

} // namespace
