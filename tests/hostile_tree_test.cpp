// Trees built to hurt the walk: huge, oddly named, too deep for PATH_MAX,
// full of loops, changing underneath it, or closed to the user.
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "fixtures/fixture.h"
#include "picture/picture.h"
#include "run/walk.h"
#include "test_support.h"

namespace {

std::string not_jpeg(const std::string &path) { return "Picture " + path + " is not a JPEG!"; }

TEST(HostileTree, AHundredThousandEntries) {
  TempDir dir;
  const int count = 100000;
  for (int i = 0; i < count; ++i)
    close(open((dir / std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0644));
  std::vector<std::string> lines = LinesOf(WalkOutput(dir.path));
  std::set<std::string> unique(lines.begin(), lines.end());
  EXPECT_EQ(lines.size(), size_t(count));
  EXPECT_EQ(unique.size(), size_t(count));
  EXPECT_TRUE(unique.count(not_jpeg(dir / "99999")));
}

TEST(HostileTree, NamesWithEveryByte) {
  TempDir dir;
  PrivatePorts ports;
  std::string jpeg = MakeJpeg(GpsEntries(GpsFix{}));
  std::set<std::string> names;
  std::string every;
  for (int byte = 1; byte < 256; ++byte) {
    if (byte == '/')
      continue;
    every.push_back(static_cast<char>(byte));
    names.insert(std::string("n") + static_cast<char>(byte));
  }
  names.insert(every); // 254 bytes, within a name's 255
  for (const std::string &name : names)
    ASSERT_TRUE(WriteFile(dir / name, jpeg)) << name;
  TestPeer peer(static_cast<int>(names.size()), 0);
  std::string printed = WalkOutput(dir.path, true, true); // POSITION and PICLIST
  peer.thread.join();
  std::set<std::string> sent;
  for (const WireMessage &m : peer.received)
    sent.insert(m.command);
  EXPECT_EQ(sent.size(), names.size());
  // A name holding a newline spans two lines: look for whole texts.
  for (const std::string &name : names) {
    EXPECT_NE(printed.find(name + " - lat = 51.5034 -  lon = 13.41 - alt = 0.245\n"),
              std::string::npos);
    EXPECT_TRUE(sent.count("AddJPGPos 51.5034 13.41 " + dir.path + "/" + name));
  }
}

TEST(HostileTree, PathsPastPathMaxAreSkippedSilently) {
  TempDir dir;
  const std::string long_name(250, 'd');
  int fd = open(dir.path.c_str(), O_RDONLY | O_DIRECTORY);
  std::string start, at = dir.path; // DIR: ten long levels down
  std::vector<std::string> expected;
  for (int level = 0; level < 24; ++level) { // built through descriptors: no path limit
    mkdirat(fd, long_name.c_str(), 0755);
    int next = openat(fd, long_name.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(next, 0) << level;
    close(fd);
    fd = next;
    at += "/" + long_name;
    close(openat(fd, "f", O_CREAT | O_WRONLY, 0644));
    if (level == 9)
      start = at;
    if (level >= 9 && (at + "/f").size() < PATH_MAX && level - 9 <= kDeepestLevel)
      expected.push_back(not_jpeg(at + "/f"));
  }
  close(fd);
  ASSERT_LT(expected.size(), size_t(kDeepestLevel + 1)); // PATH_MAX cut it short
  std::vector<std::string> lines = LinesOf(WalkOutput(start));
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()),
            std::set<std::string>(expected.begin(), expected.end()));
}

// Links are followed, to files and to directories, except back into a
// directory already open above: that would report the same pictures again.
TEST(HostileTree, LinkLoopsAtEveryLevel) {
  TempDir dir;
  std::string level = dir.path;
  for (int depth = 0; depth <= kDeepestLevel + 1; ++depth) {
    ASSERT_TRUE(WriteFile(level + "/f", "x"));
    symlink(depth ? ".." : "/nowhere", (level + "/up").c_str()); // DIR's parent is outside
    symlink(".", (level + "/self").c_str());
    symlink(dir.path.c_str(), (level + "/top").c_str());
    level += "/d";
    ASSERT_EQ(mkdir(level.c_str(), 0755), 0);
  }
  ASSERT_EQ(mkdir((dir / "other").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFile(dir / "other/g", "x"));
  ASSERT_EQ(symlink("../other", (dir / "d/sideways").c_str()), 0);
  ASSERT_EQ(symlink("f", (dir / "file-link").c_str()), 0);
  std::vector<std::string> lines = LinesOf(WalkOutput(dir.path));
  std::set<std::string> unique(lines.begin(), lines.end());
  EXPECT_EQ(lines.size(), unique.size());
  // f per level, g twice, file-link, and the dangling up
  EXPECT_EQ(lines.size(), size_t(kDeepestLevel + 1 + 4));
  EXPECT_TRUE(unique.count(not_jpeg(dir / "d/sideways/g")));
  EXPECT_TRUE(unique.count(not_jpeg(dir / "file-link")));
}

TEST(HostileTree, DirectoryChangingWhileListed) {
  TempDir dir;
  for (int i = 0; i < 200; ++i)
    WriteFile(dir / std::to_string(i), "x");
  std::atomic<bool> done{false};
  std::thread vandal([&] {
    for (unsigned i = 0; !done; ++i) {
      std::string sub = dir / ("sub" + std::to_string(i % 7));
      mkdir(sub.c_str(), 0755);
      WriteFile(sub + "/g", "y");
      unlink((dir / std::to_string(i % 200)).c_str());
      WriteFile(dir / std::to_string((i + 100) % 200), "x");
      unlink((sub + "/g").c_str());
      rmdir(sub.c_str());
    }
  });
  for (int round = 0; round < 100; ++round)
    for (const std::string &line : LinesOf(WalkOutput(dir.path)))
      EXPECT_EQ(line.rfind("Picture " + dir.path + "/", 0), 0u) << line;
  done = true;
  vandal.join();
}

TEST(HostileTree, FileGrowingAndShrinkingWhileRead) {
  TempDir dir;
  std::string path = dir / "p.jpg";
  std::string jpeg = MakeJpeg(GpsEntries(GpsFix{}), 4000);
  WriteFile(path, jpeg);
  std::atomic<bool> done{false};
  std::thread vandal([&] {
    for (size_t i = 0; !done; ++i) { // cut short, or cut and grown again
      int fd = open(path.c_str(), O_WRONLY);
      if (ftruncate(fd, static_cast<off_t>((i * 7919) % jpeg.size())) == 0 && i % 2)
        (void)!write(fd, jpeg.data(), jpeg.size());
      close(fd);
    }
  });
  // Whatever part of the file a read catches, the line is whole and sane.
  auto valid = [&](const std::string &line) {
    return line == "p.jpg - No geo tag found!" || line == not_jpeg(path) ||
           (line.rfind("p.jpg - lat = ", 0) == 0 && line.find(" -  lon = ") != std::string::npos &&
            line.find(" - alt = ") != std::string::npos);
  };
  std::vector<std::string> odd;
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::string> lines = LinesOf(WalkOutput(path, true));
    if (lines.size() != 1 || !valid(lines[0]))
      odd.insert(odd.end(), lines.begin(), lines.end());
  }
  done = true;
  vandal.join();
  EXPECT_TRUE(odd.empty()) << odd.front();
}

TEST(HostileTree, DirectoryTheUserMayNotRead) {
  TempDir dir;
  chmod(dir.path.c_str(), 0755);
  std::string closed = dir / "closed", open_dir = dir / "open";
  mkdir(closed.c_str(), 0755);
  mkdir(open_dir.c_str(), 0755);
  WriteFile(closed + "/secret", "x");
  WriteFile(open_dir + "/public", "x");
  chmod(closed.c_str(), 0);
  std::vector<std::string> argv{PINTRAIL_BIN, dir.path};
  if (geteuid() == 0) {
    if (access("/usr/bin/setpriv", X_OK) != 0)
      GTEST_SKIP() << "running as root without setpriv: cannot drop privileges";
    argv.insert(argv.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                               "--clear-groups"});
  }
  ProcessResult run = RunProcess(argv);
  if (run.code == 126 || run.code == 127 || run.err.find("Permission denied") != std::string::npos)
    GTEST_SKIP() << "the unprivileged user cannot run " << PINTRAIL_BIN << ": " << run.err;
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, not_jpeg(open_dir + "/public") + "\n");
  EXPECT_EQ(run.err, "");
}

} // namespace
