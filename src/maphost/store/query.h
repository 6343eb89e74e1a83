// What the web page asks of the store: the clusters of a view, and the
// pictures listed a page at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "maphost/store/mercator.h"
#include "maphost/store/store.h"

// What the page narrows the pictures to: those whose path holds search
// (any case of ASCII letters), taken from from until before until (texts
// compared with capture times, "2016:07:05 09:15:00"; a prefix will do).
// Empty: no bound. A narrowed view shows pictures alone.
struct Filter {
  std::string search{}, from{}, until{};
};
bool Narrows(const Filter &filter);

// The shown positions of one cell of the view: their count and mean place;
// single, the position's index when there is one, else -1.
struct Cluster {
  int32_t x, y; // the cell
  size_t count;
  double latitude, longitude;
  int64_t single;
  bool picture;       // the one position's kind
  int64_t cover = -1; // one of its pictures, in a view of sixty clusters or fewer; -1: none
};
// The clusters of every cell at zoom (0 to kDeepestZoom) that meets the box
// from north_west to south_east, in no order.
std::vector<Cluster> ClustersInView(Store &store, int zoom, MapPoint north_west, MapPoint south_east,
                                    const Filter &filter = {});

enum class ListOrder { Time, Name, Folder, Town };
struct ListPage {
  size_t total = 0;             // pictures that match
  std::vector<int64_t> indexes; // of those from from on, at most count
};
// The pictures the filter lets through, in order (capture time, then
// arrival; name; path; town, then capture time).
ListPage ListPictures(Store &store, ListOrder order, const Filter &filter, size_t from, size_t count);

// The pictures in the box from north_west to south_east, in capture-time
// order, from from on.
ListPage PicturesInArea(Store &store, MapPoint north_west, MapPoint south_east, size_t from, size_t count,
                        const Filter &filter = {});

// The pictures in the box per day of their capture time ("2016:07:05"), in
// order: the timeline.
struct DayCount {
  std::string day;
  size_t pictures;
};
std::vector<DayCount> PicturesByDay(Store &store, MapPoint north_west, MapPoint south_east, const Filter &filter);

// The trail of a view: its pictures with a capture time, joined in
// capture-time order, broken between two more than a day or 500 km apart,
// a point dropped where it would fall on the pixel of the one before.
struct Trail {
  std::vector<std::vector<double>> segments; // latitude, longitude, latitude, ...
  std::vector<int64_t> order;                // the pictures joined, for the first thousand
};
Trail TrailInView(Store &store, int zoom, MapPoint north_west, MapPoint south_east, const Filter &filter = {});

// The library's trips: its pictures with a capture time in capture-time
// order, parted where the trail is, each with its first and last capture
// time, its count, the box it spans and where it began.
struct Trip {
  std::string first, last;
  size_t pictures;
  double south, west, north, east;
  double first_latitude, first_longitude;
};
std::vector<Trip> TripsOf(Store &store);
