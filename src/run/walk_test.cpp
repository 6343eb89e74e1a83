// The walk over real directories: depth, DIR forms, special entries.
#include "run/walk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fixtures/fixture.h"
#include "test_support.h"

namespace {

std::string not_jpeg(const std::string &path) { return "Picture " + path + " is not a JPEG!\n"; }

TEST(Walk, EightLevelsBelowDirAndNoDeeper) {
  TempDir dir;
  std::string level = dir.path;
  for (int depth = 0; depth <= 9; ++depth) {
    ASSERT_TRUE(WriteFile(level + "/f", "x"));
    level += "/d";
    ASSERT_EQ(mkdir(level.c_str(), 0755), 0);
  }
  std::vector<std::string> lines = LinesOf(WalkOutput(dir.path));
  EXPECT_EQ(lines.size(), 9u);
  std::string deepest = not_jpeg(dir.path + "/d/d/d/d/d/d/d/d/f");
  deepest.pop_back();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), deepest), 1); // level 8, not 9
}

TEST(Walk, DirFormsAndEmptyDirectories) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "a.txt", "x"));
  EXPECT_EQ(WalkOutput(dir / "a.txt"), not_jpeg(dir / "a.txt")); // DIR names a file
  EXPECT_EQ(WalkOutput(dir.path + "/"), not_jpeg(dir.path + "//a.txt"));
  EXPECT_EQ(WalkOutput(dir / "missing"), "");
  ASSERT_EQ(mkdir((dir / "empty").c_str(), 0755), 0);
  EXPECT_EQ(WalkOutput(dir / "empty"), "");
}

TEST(Walk, SpecialEntriesAreNeverOpened) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
  std::string out = WalkOutput(dir.path); // a FIFO opened for reading would hang here
  EXPECT_NE(out.find(not_jpeg(dir / "pipe")), std::string::npos);
  EXPECT_NE(out.find(not_jpeg(dir / "dangling")), std::string::npos);
  EXPECT_EQ(WalkOutput(dir / "pipe"), not_jpeg(dir / "pipe"));
}

TEST(Walk, NamesWithColonsPrintWhole) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "12:30.jpg", MakeJpeg(GpsEntries(GpsFix{}))));
  EXPECT_EQ(WalkOutput(dir.path, true), "12:30.jpg - lat = 51.5034 -  lon = 13.41 - alt = 0.245\n");
}

} // namespace
