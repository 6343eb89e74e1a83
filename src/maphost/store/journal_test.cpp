// The journal: whole records, or none.
#include "maphost/store/journal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "test_support.h"

namespace {

TEST(Journal, RecordsComeBackWholeOrNotAtAll) {
  std::string record = JournalRecord({true, "-33.8", "151.2", "o\npera.jpg", "/a\tb/o\npera.jpg", "file:///x", ""});
  Position back;
  for (size_t cut = 0, at = 0; cut <= record.size(); cut++, at = 0) // cut short by a crash, or whole
    EXPECT_EQ(ReadJournalRecord(record.substr(0, cut), &at, back), cut == record.size()) << cut;
  EXPECT_EQ(JournalRecord(back), record);
  size_t at = 0;
  EXPECT_FALSE(ReadJournalRecord("X" + record.substr(1), &at, back));
}

// A record the disk took in part (a full disk, a size limit) is taken back: it would hide every later one.
TEST(Journal, ARecordWrittenInPartIsTakenBack) {
  TempDir dir;
  Journal journal;
  Position position{false, "1", "2", "a", "", "", ""};
  std::string why, record = JournalRecord(position);
  rlimit was{};
  ASSERT_TRUE(OpenJournal(dir / "t.gpx", journal, &why) && getrlimit(RLIMIT_FSIZE, &was) == 0) << why;
  rlimit cut{record.size() + 1, was.rlim_max}; // one byte of the second record fits
  signal(SIGXFSZ, SIG_IGN);
  EXPECT_TRUE(AppendJournal(journal, position) && setrlimit(RLIMIT_FSIZE, &cut) == 0);
  EXPECT_FALSE(AppendJournal(journal, position));
  EXPECT_TRUE(setrlimit(RLIMIT_FSIZE, &was) == 0 && AppendJournal(journal, position));
  EXPECT_EQ(ReadFileText(dir / "t.gpx.journal"), record + record);
}

} // namespace
