// The walk over real directories: depth, order, links, special files.
#include "run/walk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fixture.h"
#include "picture/picture.h"
#include "test_support.h"

namespace {

// Walks with no switch set: only files without EXIF data say anything, so a
// text file is a cheap probe that shows which paths were visited.
std::string walk(const std::string &path) {
  CapturedConsole console;
  GeoRecord record;
  InitGeoRecord(record, 0, 0, 0, 0);
  WalkTree(path.c_str(), record);
  return console.text();
}

std::string not_jpeg(const std::string &path) {
  return "Picture " + path + " is not a JPEG!\n";
}

TEST(Walk, EightLevelsBelowDirAndNoDeeper) {
  TempDir dir;
  std::string level = dir.path;
  for (int depth = 0; depth <= 9; ++depth) {
    ASSERT_TRUE(WriteFile(level + "/f", "x"));
    level += "/d";
    ASSERT_EQ(mkdir(level.c_str(), 0755), 0);
  }
  std::string out = walk(dir.path);
  std::string deepest = dir.path + "/d/d/d/d/d/d/d/d/f";
  EXPECT_NE(out.find(not_jpeg(deepest)), std::string::npos) << out;
  EXPECT_EQ(out.find(not_jpeg(dir.path + "/d/d/d/d/d/d/d/d/d/f")), std::string::npos);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 9);
}

TEST(Walk, DirNamingAFileTrailingSlashAndMissingDir) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "a.txt", "x"));
  EXPECT_EQ(walk(dir / "a.txt"), not_jpeg(dir / "a.txt"));
  EXPECT_EQ(walk(dir.path + "/"), not_jpeg(dir.path + "//a.txt"));
  EXPECT_EQ(walk(dir / "missing"), "");
  ASSERT_EQ(mkdir((dir / "empty").c_str(), 0755), 0);
  EXPECT_EQ(walk(dir / "empty"), "");
}

TEST(Walk, SpecialEntriesAreNeverOpened) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
  ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
  std::string out = walk(dir.path); // a FIFO opened for reading would hang here
  EXPECT_NE(out.find(not_jpeg(dir / "pipe")), std::string::npos);
  EXPECT_NE(out.find(not_jpeg(dir / "dangling")), std::string::npos);
  EXPECT_EQ(walk(dir / "pipe"), not_jpeg(dir / "pipe"));
}

TEST(Walk, LinksAreFollowedExceptBackIntoAnOpenDirectory) {
  TempDir dir;
  ASSERT_EQ(mkdir((dir / "real").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((dir / "other").c_str(), 0755), 0);
  ASSERT_TRUE(WriteFile(dir / "real/f", "x"));
  ASSERT_TRUE(WriteFile(dir / "other/g", "x"));
  ASSERT_EQ(symlink("../real/f", (dir / "other/file-link").c_str()), 0);
  ASSERT_EQ(symlink("..", (dir / "real/up").c_str()), 0);        // a loop
  ASSERT_EQ(symlink(".", (dir / "real/self").c_str()), 0);       // a loop
  ASSERT_EQ(symlink("../other", (dir / "real/sideways").c_str()), 0);
  std::string out = walk(dir.path);
  EXPECT_NE(out.find(not_jpeg(dir / "other/file-link")), std::string::npos);
  EXPECT_NE(out.find(not_jpeg(dir / "real/sideways/g")), std::string::npos);
  EXPECT_EQ(out.find("/up/"), std::string::npos) << out;
  EXPECT_EQ(out.find("/self/"), std::string::npos) << out;
}

TEST(Walk, PathsLongerThanAnyFixedBuffer) {
  TempDir dir;
  std::string path = dir.path;
  for (int i = 0; i < 3; ++i) {
    path += "/" + std::string(100, 'a' + i);
    ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
  }
  std::string file = path + "/" + std::string(200, 'z') + ".txt";
  ASSERT_TRUE(WriteFile(file, "x"));
  EXPECT_EQ(walk(dir.path), not_jpeg(file));
}

TEST(Walk, NamesWithColonsAndPicturesInListingOrder) {
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "12:30.jpg", MakeJpeg(GpsEntries(GpsFix{}))));
  CapturedConsole console;
  GeoRecord record;
  InitGeoRecord(record, 0, -1, 0, 0);
  WalkTree(dir.path.c_str(), record);
  EXPECT_EQ(console.text(), "12:30.jpg - lat = 51.5034 -  lon = 13.41 - alt = 0.245\n");
}

} // namespace
