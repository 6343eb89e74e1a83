// The journal: whole records, and nothing acknowledged lost to a kill -9.
#include "maphost/store/journal.h"

#include <gtest/gtest.h>
#include <random>
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
  rlimit cut{record.size() + 5, was.rlim_max}; // five bytes of the second record fit
  signal(SIGXFSZ, SIG_IGN);
  EXPECT_TRUE(AppendJournal(journal, position) && setrlimit(RLIMIT_FSIZE, &cut) == 0);
  EXPECT_FALSE(AppendJournal(journal, position));
  EXPECT_TRUE(setrlimit(RLIMIT_FSIZE, &was) == 0 && AppendJournal(journal, position));
  EXPECT_EQ(ReadFileText(dir / "t.gpx.journal"), record + record);
}

// A stream of commands, the host killed with SIGKILL at random moments and started again on the
// same files: every position it answered 0 to is in both files at the end.
TEST(Journal, AHostKilledAtAnyMomentKeepsEveryAcknowledgedPosition) {
  PrivatePorts ports;
  std::string gpx = ports.dir / "trip.gpx", html = ports.dir / "trip.html";
  std::vector<std::string> words{"QUIET", "GPX=" + gpx}; // its journal, beside the GPX file
  std::mt19937 random(11);
  std::vector<int> acknowledged;
  int sent = 0;
  for (int trial = 0; trial < 6; trial++) {
    MapHost host(ports, words);
    int burst = 200 + static_cast<int>(random() % 600);
    for (int i = 0; i < burst; i++, sent++) {
      std::string command = "AddJPGPos " + std::to_string(sent % 80) + ".5 2 /crash/" + std::to_string(sent) + ".jpg";
      if (SendCommand(kMapPortName, command.c_str()))
        acknowledged.push_back(sent);
    }
    usleep(static_cast<useconds_t>(random() % 1500000)); // before, during or after a write
    EXPECT_EQ(StopProcess(host.pid, SIGKILL), 128 + SIGKILL);
    host.pid = -1;
  }
  { MapHost last(ports, {"QUIET", "GPX=" + gpx, "HTML=" + html}); } // replays, writes both, ends
  std::string kept = ReadFileText(gpx), page = ReadFileText(html);
  EXPECT_EQ(static_cast<int>(acknowledged.size()), sent);
  int lost = 0;
  for (int n : acknowledged) {
    std::string name = std::to_string(n) + ".jpg"; // the page names its folder apart
    lost += kept.find("file:///crash/" + name + "\"") == std::string::npos ||
            page.find("\"" + name + "\"") == std::string::npos;
  }
  EXPECT_EQ(lost, 0) << "of " << acknowledged.size();
  EXPECT_NE(access((gpx + ".journal").c_str(), F_OK), 0); // a clean end leaves none
}

} // namespace
