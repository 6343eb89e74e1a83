#include "maphost/store/store.h"

#include "maphost/store/query.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>

#include "test_support.h"

namespace {

// A picture sent again is moved, once, whichever coordinate changed.
TEST(Store, APictureMovesToItsLatestPosition) {
  Store store;
  for (auto [lat, lon, kept] : {std::tuple{"1", "2", Kept::Changed}, {"1", "2", Kept::Same},
                                {"1", "3", Kept::Changed}, {"4", "3", Kept::Changed}}) {
    EXPECT_EQ(KeepPosition(store, Position{true, lat, lon, "p.jpg", "/p.jpg", "file:///p.jpg", ""}), kept);
    CommitStore(store);
  }
  std::vector<Position> kept = AllPositions(store);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].latitude + "," + kept[0].longitude, "4,3");
  std::vector<Cluster> world = ClustersInView(store, 0, MapPoint{0, 0}, MapPoint{kWorldSide - 1, kWorldSide - 1});
  ASSERT_EQ(world.size(), 1u); // moved within its cell: counted once, where it is now
  EXPECT_EQ(world[0].count, 1u);
  EXPECT_DOUBLE_EQ(world[0].latitude, 4);
  KeepPosition(store, Position{true, "5", "5", "q.jpg", "/q.jpg", "file:///q.jpg", ""});
  ClearStore(store); // and what was kept but not written yet
  CommitStore(store);
  EXPECT_TRUE(ClustersInView(store, 0, MapPoint{0, 0}, MapPoint{kWorldSide - 1, kWorldSide - 1}).empty());
  KeepPosition(store, Position{true, "0", "0", "q.jpg", "/q.jpg", "file:///q.jpg", ""}); // sums of 0: still one
  CommitStore(store);
  EXPECT_EQ(ClustersInView(store, 0, MapPoint{0, 0}, MapPoint{kWorldSide - 1, kWorldSide - 1}).size(), 1u);
}

// A store of an older version gets its pictures' places when opened, by
// country, region and town; a later one is not read.
TEST(Store, AnOlderStoreGetsItsPicturesPlacesAndANewerOneIsRefused) {
  TempDir dir;
  for (auto [version, opens] : {std::pair{1, true}, {2, true}, {4, false}}) {
    std::string path = dir / (std::to_string(version) + ".db"), why;
    ASSERT_TRUE(RunSql(OpenDatabase(path, &why).get(), ("CREATE TABLE position(id INTEGER PRIMARY KEY, picture, latitude,"
        " longitude, name, path, href, raw, device, inode, changed_at, x, y, partner, taken" +
        std::string(version == 2 ? ", place TEXT NOT NULL DEFAULT 'Florence'" : "") + "); INSERT INTO position VALUES"
        " (0, 1, '43.77', '11.25', 'a.jpg', '/a.jpg', 'file:///a.jpg', '', 0, 0, 0, 1, 1, -1, ''" +
        std::string(version == 2 ? ", 'Florence'" : "") + "); PRAGMA user_version = " + std::to_string(version)).c_str()));
    Store store;
    ASSERT_EQ(OpenStoreFile(store, path, &why), opens) << why;
    EXPECT_EQ(opens ? ListPictures(store, ListOrder::Town, Filter{"ITALY"}, 0, 5).indexes : std::vector<int64_t>{},
              (opens ? std::vector<int64_t>{0} : std::vector<int64_t>{})) << version;
  }
}

// A store opened again knows the box of its positions, a spot index of many nodes too.
TEST(Store, ABoxOfEveryPositionOutlivesARestart) {
  TempDir dir;
  MapPoint least[2], most[2];
  for (int run = 0; run < 2; run++) {
    Store store;
    std::string why;
    ASSERT_TRUE(OpenStoreFile(store, dir / "t.db", &why)) << why;
    EXPECT_EQ(BoundsOf(store, least[run], most[run]), run == 1); // a new store has no box
    for (int i = 0; run == 0 && i < 500; i++)
      KeepPosition(store, Position{false, std::to_string(i % 170 - 80), "-180", "w", "", "", ""}); // x 0: a box still
    ASSERT_TRUE(CommitStore(store) && BoundsOf(store, least[run], most[run]));
  }
  EXPECT_EQ(std::tuple(least[1].x, least[1].y, most[1].x, most[1].y), std::tuple(least[0].x, least[0].y, most[0].x, most[0].y));
}

// Each picture of a burst after the first finds its waypoint kept already, and still takes its time.
TEST(Store, PicturesOfABurstShareTheirCaptureTime) {
  Store store;
  Position time{false, "1", "2", "2016:07:04 12:34:56", "", "", ""};
  for (std::string name : {"/a.jpg", "/b.jpg", "/c.jpg"}) {
    KeepPosition(store, time);
    KeepPosition(store, Position{true, "1", "2", name, name, "file://" + name, ""});
  }
  KeepPosition(store, Position{true, "1", "2", "d.jpg", "/d.jpg", "file:///d.jpg", ""}); // no waypoint came before it
  std::vector<std::string> taken;
  for (const Position &p : AllPositions(store))
    taken.push_back(p.taken);
  EXPECT_EQ(taken, (std::vector<std::string>{"", time.name, time.name, time.name, ""}));
}

TEST(Store, APictureByNumberIsAPictureThereOrNone) { // a waypoint's or one past the last: none
  Store store;
  KeepPosition(store, Position{false, "1", "2", "w", "", "", ""});
  KeepPosition(store, Position{true, "1", "2", "p.jpg", "/p.jpg", "file:///p.jpg", ""});
  Position found;
  EXPECT_TRUE(PictureAt(store, 1, found));
  EXPECT_EQ(found.path, "/p.jpg");
  EXPECT_FALSE(PictureAt(store, 0, found));
  EXPECT_FALSE(PictureAt(store, 2, found));
}

TEST(Store, EveryPositionIsReadBackPastTheSlicesItIsReadIn) {
  Store store;
  for (int i = 0; i < 20001; i++)
    KeepPosition(store, Position{false, "1", "2", std::to_string(i), "", "", ""});
  std::vector<Position> kept = AllPositions(store);
  ASSERT_EQ(kept.size(), 20001u);
  EXPECT_EQ(kept.back().name, "20000");
}

// Answered once journalled, but not kept yet: a reader, and a commit, wait
// until it is; the commit then empties the journal.
TEST(Store, APositionAnsweredIsJournalledAndKeptBeforeTheNextReaderOrCommitGoesOn) {
  TempDir dir;
  Store store;
  Journal journal;
  Position a{false, "1", "2", "a", "", "", ""}, b{false, "3", "4", "b", "", "", ""};
  std::string why;
  ASSERT_TRUE(OpenJournal(dir / "t.gpx", journal, &why));
  AttachJournal(store, journal);
  auto keep_later = [&](const Position &p) {
    EXPECT_TRUE(JournalPosition(store, p));
    return std::thread([&store, p] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      KeepJournalled(store, p);
    });
  };
  std::thread first = keep_later(a);
  EXPECT_EQ(CountsOf(store).waypoints, 1u);
  EXPECT_EQ(JournalPositions(journal).size(), 1u); // kept, not journalled again
  std::thread second = keep_later(b);
  EXPECT_TRUE(CommitStore(store));
  EXPECT_TRUE(JournalPositions(journal).empty());
  EXPECT_EQ(CountsOf(store).waypoints, 2u);
  first.join(), second.join();
  ASSERT_EQ(dup2(Descriptor(open("/dev/null", O_RDONLY)).fd, journal.file.fd), journal.file.fd); // the disk refuses
  EXPECT_FALSE(JournalPosition(store, a));
}

} // namespace
