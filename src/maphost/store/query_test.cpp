#include "maphost/store/query.h"

#include "maphost/places/place.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <numeric>
#include <set>
#include <random>

namespace {

// A library kept by hand: each position at its latest place, pictures paired with their place's first free waypoint.
struct Library {
  std::vector<Position> positions;
  void add(Position p) {
    for (size_t i = 0; i < positions.size() && p.partner < 0; i++) {
      Position &q = positions[i];
      if (q.picture != p.picture && q.partner < 0 && q.latitude == p.latitude && q.longitude == p.longitude) {
        p.partner = int64_t(i), q.partner = int64_t(positions.size());
        (p.picture ? p.taken : q.taken) = p.picture ? q.name : p.name;
      }
    }
    positions.push_back(p);
  }
};

// Random positions around a few spots, pairs among them, and pictures moved.
void fill(Store &store, Library &library, std::mt19937 &random) {
  std::uniform_real_distribution<double> lat(-80, 80), lon(-179, 179), near(-0.01, 0.01);
  std::vector<std::pair<double, double>> spots(6);
  for (auto &spot : spots)
    spot = {lat(random), lon(random)};
  spots[0] = {43.77, 11.25}; // by Florence: the towns of a town's surroundings
  auto keep = [&](const Position &p) { library.add(p); ASSERT_EQ(KeepPosition(store, p), Kept::Changed); };
  keep(Position{true, "43.7", "11.2", "IMG.jpg", "/IMG.jpg", "/IMG.jpg", ""}); // picture 0, then its waypoint
  keep(Position{false, "43.7", "11.2", "2010:01:01 0", "", "", ""});
  keep(Position{true, "90", "-180", "pole.jpg", "/pole.jpg", "/pole.jpg", ""}); // the map's corner
  for (int k = 0; k < 1500; k++) {
    auto [a, o] = spots[random() % spots.size()];
    std::string la = std::to_string(a + near(random)), lo = std::to_string(o + near(random)), n = std::to_string(k);
    std::string path = "/Trip " + std::to_string(random() % 5) + (k % 7 ? "/" : "\\/") + "IMG_" + n + ".jpg";
    if (random() % 3 == 0) { // a capture time and its picture
      Position w{false, la, lo, "2010:0" + std::to_string(random() % 9 + 1) + ":01 " + n, "", "", ""};
      keep(w);
    }
    Position p{random() % 5 != 0, la, lo, "IMG_" + n + ".jpg", path, "file://" + path, ""};
    if (!p.picture)
      p.href = p.path = "";
    keep(p);
    if (k % 100 == 99)
      CommitStore(store);
  }
  for (int k = 0; k < 100; k++) { // moves
    size_t i = random() % library.positions.size();
    Position moved = library.positions[i];
    if (!moved.picture)
      continue;
    moved.latitude = std::to_string(lat(random)), moved.longitude = std::to_string(lon(random));
    library.positions[i].latitude = moved.latitude, library.positions[i].longitude = moved.longitude;
    ASSERT_EQ(KeepPosition(store, moved), Kept::Changed);
  }
}

TEST(Query, ClustersOfRandomViewsCountEveryShownPositionOnce) {
  std::mt19937 random(5);
  Store store;
  Library library;
  fill(store, library, random);
  StoreCounts counts = CountsOf(store);
  std::set<std::pair<std::string, std::string>> places;
  size_t lone = 0;
  for (const Position &p : library.positions) {
    lone += !p.picture && p.partner < 0;
    if (p.picture)
      places.insert({p.latitude, p.longitude});
  }
  EXPECT_EQ(counts.lone_waypoints, lone);
  EXPECT_EQ(counts.places, places.size());
  for (int view = 0; view < 60; view++) {
    int zoom = view < 19 ? view : int(random() % 19); // the whole world at each zoom, then random views
    std::uniform_int_distribution<int32_t> side(0, kWorldSide - 1);
    MapPoint a{side(random), side(random)}, b{side(random), side(random)};
    if (view < 19)
      a = MapPoint{0, 0}, b = MapPoint{kWorldSide - 1, kWorldSide - 1};
    MapPoint from{std::min(a.x, b.x), std::min(a.y, b.y)}, to{std::max(a.x, b.x), std::max(a.y, b.y)};
    std::map<std::pair<int32_t, int32_t>, std::vector<size_t>> expected;
    for (size_t i = 0; i < library.positions.size(); i++) {
      const Position &p = library.positions[i];
      MapPoint at;
      ASSERT_TRUE(MapPointOf(p.latitude, p.longitude, at));
      int32_t x = CellOf(at.x, zoom), y = CellOf(at.y, zoom);
      if ((p.picture || p.partner < 0) && x >= CellOf(from.x, zoom) && x <= CellOf(to.x, zoom) &&
          y >= CellOf(from.y, zoom) && y <= CellOf(to.y, zoom))
        expected[{x, y}].push_back(i);
    }
    std::vector<Cluster> clusters = ClustersInView(store, zoom, from, to);
    EXPECT_EQ(clusters.size(), expected.size()) << "zoom " << zoom;
    for (const Cluster &c : clusters) {
      const std::vector<size_t> &in = expected[{c.x, c.y}];
      ASSERT_EQ(c.count, in.size()) << "zoom " << zoom << " cell " << c.x << "," << c.y;
      double latitude = 0;
      for (size_t i : in)
        latitude += std::stod(library.positions[i].latitude);
      EXPECT_NEAR(c.latitude, latitude / double(in.size()), 1e-6);
      EXPECT_EQ(c.single, in.size() == 1 ? int64_t(in[0]) : -1);
    }
    std::vector<int64_t> inside; // and the pictures of the view, by capture time
    for (size_t i = 0; i < library.positions.size(); i++) {
      MapPoint at;
      const Position &p = library.positions[i];
      if (p.picture && MapPointOf(p.latitude, p.longitude, at) && at.x >= from.x && at.x <= to.x && at.y >= from.y &&
          at.y <= to.y)
        inside.push_back(int64_t(i));
    }
    std::sort(inside.begin(), inside.end(), [&](int64_t a, int64_t b) {
      return std::pair{library.positions[size_t(a)].taken, a} < std::pair{library.positions[size_t(b)].taken, b};
    });
    ListPage area = PicturesInArea(store, from, to, 1, 5);
    EXPECT_EQ(area.total, inside.size());
    inside.erase(inside.begin(), inside.begin() + std::min<size_t>(1, inside.size()));
    inside.resize(std::min<size_t>(5, inside.size()));
    EXPECT_EQ(area.indexes, inside);
    if (view % 20 == 0)
      CommitStore(store);
  }
}

TEST(Query, AViewEndsWhereItsLastCellEnds) { // 0 degrees starts a cell: one there is not in a view ending before it
  Store store;
  for (const char *lat : {"0", "0.001", "1x"})
    for (const char *lon : {"0", "-0.001", "-0.001y"})
      KeepPosition(store, Position{false, lat, lon, std::string(lat) + lon, "", "", ""});
  int32_t half = kWorldSide / 2, cell = CellStart(1, 13);
  std::vector<Cluster> view = ClustersInView(store, 13, MapPoint{half - cell, half - cell}, MapPoint{half - 1, half - 1});
  EXPECT_TRUE(view.size() == 1 && view[0].count == 1) << view.size(); // 0.001 north, 0.001 west
  EXPECT_EQ(ClustersInView(store, 13, MapPoint{0, 0}, MapPoint{kWorldSide - 1, kWorldSide - 1}).size(), 4u); // no "1x"
}

// Breaks where two pictures are more than a day or 500 km apart, and so do trips; one on the pixel of the one
// before adds no point.
TEST(Query, TheTrailAndTripsBreakBetweenDaysAndDistancesAndDropPointsOnOnePixel) {
  Store store;
  const char *fixes[][3] = {{"10", "10", "2020:01:01 10:00:00"}, {"10.1", "10", "2020:01:01 11:00:00"},
                            {"10.1", "10.0000001", "2020:01:01 11:30:00"}, {"10.2", "10", "2020:01:03 11:00:00"},
                            {"10.3", "10", "2020:01:03 12:00:00"}, {"40", "10", "2020:01:03 13:00:00"},
                            {"40.1", "10", "2020:01:04 13:00:00"}, {"41", "10", "0000:00:00 00:00:00"}}; // a clock never set
  for (int k = 0; k < 8; k++) {
    KeepPosition(store, Position{false, fixes[k][0], fixes[k][1], fixes[k][2], "", "", ""});
    KeepPosition(store, Position{true, fixes[k][0], fixes[k][1], "p", "/" + std::to_string(k), std::to_string(k), ""});
  }
  EXPECT_EQ(TrailInView(store, 10, MapPointOf(10.4, 9.9), MapPointOf(9.9, 10.1)).order, (std::vector<int64_t>{1, 3, 5, 7, 9}));
  Trail trail = TrailInView(store, 10, MapPoint{0, 0}, MapPoint{kWorldSide - 1, kWorldSide - 1});
  EXPECT_EQ(trail.segments, (std::vector<std::vector<double>>{{10, 10, 10.1, 10}, {10.2, 10, 10.3, 10}, {40, 10, 40.1, 10}}));
  EXPECT_EQ(trail.order, (std::vector<int64_t>{1, 3, 5, 7, 9, 11, 13}));
  Filter day{"", "2020:01:03", "2020:01:04"}; // a small view, narrowed to a day
  EXPECT_EQ(TrailInView(store, 10, MapPointOf(10.4, 9.9), MapPointOf(9.9, 10.1), day).order, (std::vector<int64_t>{7, 9}));
  std::vector<DayCount> days = PicturesByDay(store, MapPoint{0, 0}, MapPoint{kWorldSide - 1, kWorldSide - 1}, {});
  EXPECT_TRUE(days.size() == 3 && days[2].day == "2020:01:04" && days[2].pictures == 1) << days.size(); // none of 0000:00:00
  std::vector<Trip> trips = TripsOf(store); // parted as the trail, every picture counted
  ASSERT_EQ(trips.size(), 3u);
  EXPECT_EQ(std::tuple(trips[0].first, trips[0].last, trips[0].pictures, trips[0].north),
            std::tuple("2020:01:01 10:00:00", "2020:01:01 11:30:00", size_t(3), 10.1));
  EXPECT_EQ(std::tuple(trips[2].pictures, trips[2].south, trips[2].east), std::tuple(size_t(2), 40.0, 10.0));
  for (int k = 0; k < 1000; k++) { // a long trail orders its first thousand
    KeepPosition(store, Position{false, "20", "10", "2020:02:01 10:00:00", "", "", ""});
    KeepPosition(store, Position{true, "20", "10", "p", "/long" + std::to_string(k), "l" + std::to_string(k), ""});
  }
  EXPECT_EQ(TrailInView(store, 10, MapPoint{0, 0}, MapPoint{kWorldSide - 1, kWorldSide - 1}).order.size(), 1000u);
}

std::string lower(std::string s) {
  std::ranges::transform(s, s.begin(), [](unsigned char c) { return char(tolower(c)); });
  return s;
}

// Every page of a list, joined.
template <typename Page> std::vector<int64_t> all_pages(std::mt19937 &random, size_t total, Page page_from) {
  std::vector<int64_t> listed;
  for (size_t from = 0, size = 1 + random() % 300;; from += size) {
    ListPage page = page_from(from, size);
    EXPECT_EQ(page.total, total);
    listed.insert(listed.end(), page.indexes.begin(), page.indexes.end());
    if (page.indexes.size() < size)
      return listed;
  }
}

TEST(Query, PagesOfTheListCoverEachPictureTheFilterLetsThroughOnceInOrder) {
  std::mt19937 random(9);
  Store store;
  Library library;
  fill(store, library, random);
  MapPoint world{kWorldSide - 1, kWorldSide - 1};
  for (Filter f : std::vector<Filter>{{""}, {"trip 3"}, {"IMG_1"}, {"_"}, {"3/_MG"}, {"%"}, {"\\"}, {"no such"},
                                      {"", "2010:03", "2010:06"}, {"trip 3", "2010:05"}, {"", "", "2010:02"},
                                      {"IMG_1", "2010:01:01 1", "2010:01:01 2"}}) {
    for (ListOrder order : {ListOrder::Time, ListOrder::Name, ListOrder::Folder, ListOrder::Town}) {
      std::vector<int64_t> expected;
      for (size_t i = 0; i < library.positions.size(); i++)
        if (const Position &p = library.positions[i]; p.picture && lower(p.path).find(lower(f.search)) != std::string::npos &&
                                                      p.taken >= f.from && (f.until.empty() || p.taken < f.until))
          expected.push_back(int64_t(i));
      auto key = [&](int64_t i) {
        const Position &p = library.positions[size_t(i)];
        std::string town = PlaceKeyOf(p.latitude, p.longitude) + '\0' + p.taken;
        return std::pair{order == ListOrder::Time ? p.taken : order == ListOrder::Name ? p.name : order == ListOrder::Folder ? p.path : town, i};
      };
      std::sort(expected.begin(), expected.end(), [&](int64_t a, int64_t b) { return key(a) < key(b); });
      std::string said = "\"" + f.search + "\" from " + f.from + " until " + f.until + " order " + std::to_string(int(order));
      EXPECT_EQ(all_pages(random, expected.size(), [&](size_t from, size_t n) { return ListPictures(store, order, f, from, n); }),
                expected) << said;
      if (order != ListOrder::Time || !Narrows(f))
        continue; // the map narrowed alike: the area, its clusters and its days
      EXPECT_EQ(all_pages(random, expected.size(), [&](size_t from, size_t n) { return PicturesInArea(store, {0, 0}, world, from, n, f); }),
                expected) << said;
      std::vector<Cluster> clusters = ClustersInView(store, 3, MapPoint{0, 0}, world, f);
      std::vector<DayCount> days = PicturesByDay(store, MapPoint{0, 0}, world, f);
      EXPECT_EQ(std::accumulate(clusters.begin(), clusters.end(), 0, [](size_t n, auto &c) { return n + c.count; }) +
                    std::accumulate(days.begin(), days.end(), 0, [](size_t n, auto &d) { return n + d.pictures; }),
                2 * expected.size() - std::count_if(expected.begin(), expected.end(), [&](int64_t i) {
                  return library.positions[size_t(i)].taken.empty(); })) << said;
    }
  }
}

} // namespace
