// The page's questions of the store, answered in JSON:
//   /clusters?z=ZOOM&b=WEST,SOUTH,EAST,NORTH  the clusters of a view:
//       {"c": [[latitude, longitude, count, index of the one position or -1, whether it is a picture,
//       index of one of its pictures or -1], ...]}
//   /trail?z=ZOOM&b=WEST,SOUTH,EAST,NORTH  the trail of a view:
//       {"s": [[latitude, longitude, ...], ...], "o": [index, ...]}
//   /list?o=time|name|folder|town&from=K&n=COUNT  a page of the pictures:
//       {"total": T, "rows": [[index, name, folder, town], ...]}
//       (with z= and b= as above: of the pictures in that box, by time)
//   /timeline?z=ZOOM&b=WEST,SOUTH,EAST,NORTH  the pictures of a view per day:
//       {"d": [["2016:07:05", pictures], ...]}, in order
//   /position/N  one position: {"i", "picture", "name", "folder", "lat", "lon", "taken", "town"}
//   /trips  the library's trips, the latest thousand in capture-time order:
//       {"n": all of them, "t": [[first time, last time, pictures, south, west, north, east,
//       the town of its first picture], ...]}
//   /selection?f=gpx|geojson|kml&z=ZOOM&b=WEST,SOUTH,EAST,NORTH  the pictures
//       in the box as a file of that format (of 100,000 pictures at the most)
// All but /position and /trips take q=SEARCH (the pictures whose path or
// town holds it), t0=FROM and t1=UNTIL (taken from FROM until before
// UNTIL: capture times as "2016:07:05 09:15:00", or the start of one); a
// view so narrowed shows its pictures alone, and a timeline heeds only the
// search.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "maphost/store/store.h"

// Whether path is one of the questions.
bool IsQuery(std::string_view path);
struct QueryAnswer {
  std::string bytes; // empty: the arguments make no question, or there is no such position
  const char *type = "application/json";
  const char *refusal = nullptr; // why a question that can be answered is not
};
// The answer to the question at path, its arguments by name (nullptr: not
// given).
QueryAnswer AnswerQuery(Store &store, std::string_view path, const std::function<const char *(const char *)> &argument);
