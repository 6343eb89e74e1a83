// The walk over real and hostile trees: depth, DIR forms, special entries, loops.
#include "run/walk.h"

#include <gtest/gtest.h>
#include <cerrno>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/dos.h"
#include "test_support.h"

namespace {

std::string not_jpeg(const std::string &path) { return "Picture " + path + " is not a JPEG!"; }

std::set<std::string> walked(const std::string &path) {
  std::vector<std::string> lines = LinesOf(WalkOutput(path));
  std::set<std::string> unique(lines.begin(), lines.end());
  EXPECT_EQ(lines.size(), unique.size()) << "a file reported twice";
  EXPECT_EQ(WalkOutput(path, false, true), WalkOutput(path)) << "ALLFORMATS changed a tree without pictures";
  return unique;
}

TEST(Walk, DirFormsAndSpecialEntries) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "a.txt", "x"));
  EXPECT_EQ(WalkOutput(dir / "a.txt"), not_jpeg(dir / "a.txt") + "\n"); // DIR names a file
  EXPECT_EQ(WalkOutput(dir.path + "/"), not_jpeg(dir.path + "//a.txt") + "\n");
  EXPECT_EQ(WalkOutput(dir / "missing"), "");
  ASSERT_EQ(mkdir((dir / "empty").c_str(), 0755), 0);
  EXPECT_EQ(WalkOutput(dir / "empty"), "");
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
  ASSERT_TRUE(WriteFile(dir / ".a", "x")); // hidden, but neither . nor ..
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
  // A FIFO opened for reading would hang here; this one holds a picture that whoever wandered in would report.
  int feed = open((dir / "pipe").c_str(), O_RDWR | O_NONBLOCK);
  std::string picture = MakeJpeg(GpsEntries(GpsFix{}));
  ASSERT_EQ(write(feed, picture.data(), picture.size()), static_cast<ssize_t>(picture.size()));
  EXPECT_EQ(walked(dir.path), (std::set<std::string>{not_jpeg(dir / "a.txt"), not_jpeg(dir / ".a"),
                                                     not_jpeg(dir / "pipe"), not_jpeg(dir / "dangling")}));
  EXPECT_EQ(WalkOutput(dir / "pipe"), not_jpeg(dir / "pipe") + "\n");
  close(feed);
}

// Eight levels below DIR and no deeper. Links are followed, but never back
// into a directory open above: that would report the same pictures again.
TEST(Walk, DepthAndLinkLoopsAtEveryLevel) {
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
  ASSERT_EQ(symlink("other", (dir / "alias").c_str()), 0); // walked twice, one way each
  std::set<std::string> lines = walked(dir.path);
  // f per level, g three times, file-link, and the dangling up
  EXPECT_EQ(lines.size(), size_t(kDeepestLevel + 1 + 5));
  EXPECT_TRUE(lines.count(not_jpeg(dir / "d/sideways/g")));
  EXPECT_TRUE(lines.count(not_jpeg(dir / "file-link")));
  EXPECT_TRUE(lines.count(not_jpeg(dir / "d/d/d/d/d/d/d/d/f"))); // level 8, not 9
}

} // namespace
