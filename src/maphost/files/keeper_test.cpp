// The files' writer: what it leaves when it cannot write them.
#include "maphost/files/keeper.h"

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

} // namespace
