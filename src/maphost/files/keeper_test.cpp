// The files' writer: what it leaves when it cannot write them.
#include "maphost/files/keeper.h"

#include "maphost/files/continued.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "test_support.h"

namespace {

TEST(Keeper, AJournalReplayedOutlivesFilesThatCannotBeWritten) {
  TempDir dir;
  std::string html = dir / "t.html", why;
  ASSERT_TRUE(WriteFile(html + ".journal", JournalRecord({false, "1", "2", "w", "", "", ""})));
  rlimit was{}, cut{64 << 10, 0}; // the page is larger: a full disk as the host starts
  Store store;
  KeptFiles files;
  ASSERT_TRUE(OpenKeptFiles(nullptr, html.c_str(), files, store, false, &why) && getrlimit(RLIMIT_FSIZE, &was) == 0);
  signal(SIGXFSZ, SIG_IGN);
  EXPECT_TRUE((cut.rlim_max = was.rlim_max, setrlimit(RLIMIT_FSIZE, &cut)) == 0 && !StartKeeper(store, files, &why));
  EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &was), 0);
  EXPECT_NE(ReadFileText(html + ".journal"), "");
}

// What the store took after the GPX file was last written outlives a hand edit of the file, every position of it.
TEST(Keeper, WhatTheFileNeverGotOutlivesItsHandEdit) {
  TempDir dir;
  std::string gpx = dir / "t.gpx", why, head = "<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\">";
  ASSERT_TRUE(WriteFile(gpx, head + "<wpt lat=\"1\" lon=\"2\"><name>old</name></wpt></gpx>"));
  Store store;
  KeptFiles files;
  ASSERT_TRUE(OpenKeptFiles(gpx.c_str(), nullptr, files, store, false, &why)) << why;
  NoteFilesWritten(store, CountsOf(store).events, files.gpx.fd, files.frame);
  ASSERT_EQ(ContinueGpx(files.gpx, gpx.c_str(), store, files.frame, false, &why), GpxLoad::Loaded); // known by its signature
  for (const char *name : {"a", "b"})
    KeepPosition(store, Position{false, "3", "4", name, "", "", ""});
  ASSERT_TRUE(WriteFile(gpx, head + "<wpt lat=\"1\" lon=\"2\"><name>hand</name></wpt></gpx>"));
  ASSERT_EQ(ContinueGpx(files.gpx, gpx.c_str(), store, files.frame, false, &why), GpxLoad::Loaded) << why;
  std::vector<std::string> names;
  for (const Position &p : AllPositions(store))
    names.push_back(p.name);
  EXPECT_EQ(names, (std::vector<std::string>{"hand", "a", "b"}));
}

} // namespace
