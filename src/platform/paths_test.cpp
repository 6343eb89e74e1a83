// Paths as a host receives them: one name for each file.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "test_support.h"

namespace {

TEST(Paths, AMovedFolderIsWhereItNowIs) {
  TempDir dir;
  std::string trip = dir / "trip", moved = dir / "moved";
  mkdir(trip.c_str(), 0755);
  ASSERT_TRUE(WriteFile(trip + "/a.jpg", "a"));
  EXPECT_EQ(CanonicalPath(trip + "/a.jpg"), trip + "/a.jpg"); // asked once: then known by identity
  ASSERT_EQ(rename(trip.c_str(), moved.c_str()), 0);
  mkdir(trip.c_str(), 0755); // another made where it was
  EXPECT_EQ(CanonicalPath(moved + "/a.jpg"), moved + "/a.jpg");
}

TEST(Paths, AGonePathIsTidiedAsText) {
  EXPECT_EQ(CanonicalPath("/gone//a/./b/../c.jpg"), "/gone/a/c.jpg");
  EXPECT_EQ(CanonicalPath("/gone/../.."), "/");
}

} // namespace
