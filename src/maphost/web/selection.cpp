#include "maphost/web/selection.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sys/mman.h>
#include <sys/stat.h>
#include <vector>

#include "maphost/files/gpx.h"
#include "maphost/store/query.h"
#include "platform/descriptor.h"
#include "platform/whole_file.h"

namespace {

// The pictures of the box, or none when there are more than kMostSelected.
bool pictures_in(Store &store, MapPoint north_west, MapPoint south_east, const Filter &filter,
                 std::vector<Position> &pictures) {
  for (size_t from = 0;;) {
    ListPage page = PicturesInArea(store, north_west, south_east, from, 1000, filter);
    if (page.total > kMostSelected)
      return false;
    for (int64_t index : page.indexes)
      if (Position p; PictureAt(store, size_t(index), p))
        pictures.push_back(std::move(p));
    from += page.indexes.size();
    if (page.indexes.empty() || from >= page.total)
      return true;
  }
}

std::string gpx(const std::vector<Position> &pictures) {
  Descriptor file(memfd_create("selection", MFD_CLOEXEC));
  std::string bytes;
  struct stat status;
  if (file.fd < 0 || !WriteGpx(file.fd, [&](const auto &visit) { std::for_each(pictures.begin(), pictures.end(), visit); }) ||
      fstat(file.fd, &status) != 0 || !ReadWholeFile(file.fd, bytes, size_t(status.st_size)))
    return "";
  return bytes;
}

std::string geojson(const std::vector<Position> &pictures) {
  nlohmann::json features = nlohmann::json::array();
  for (const Position &p : pictures) {
    nlohmann::json properties = {{"name", p.name}, {"file", p.href}};
    if (std::string time = GpxTime(p.taken); !time.empty())
      properties["time"] = time;
    features.push_back({{"type", "Feature"}, {"properties", properties},
                        {"geometry", {{"type", "Point"}, {"coordinates", {strtod(p.longitude.c_str(), nullptr),
                                                                          strtod(p.latitude.c_str(), nullptr)}}}}});
  }
  nlohmann::json collection = {{"type", "FeatureCollection"}, {"features", features}};
  return collection.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Text as XML character data and attribute values.
std::string escaped(std::string_view text) {
  std::string out;
  for (char c : XmlChars(text))
    out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : c == '"' ? "&quot;" : std::string(1, c);
  return out;
}

std::string kml(const std::vector<Position> &pictures) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>\n";
  for (const Position &p : pictures) {
    char place[64];
    snprintf(place, sizeof place, "%.9g,%.9g", strtod(p.longitude.c_str(), nullptr), strtod(p.latitude.c_str(), nullptr));
    std::string time = GpxTime(p.taken);
    out += "<Placemark><name>" + escaped(p.name) + "</name><description>" + escaped(p.href) + "</description>" +
           (time.empty() ? "" : "<TimeStamp><when>" + time + "</when></TimeStamp>") + "<Point><coordinates>" +
           place + "</coordinates></Point></Placemark>\n";
  }
  return out + "</Document></kml>\n";
}

} // namespace

Selected ExportSelection(Store &store, MapPoint north_west, MapPoint south_east, const Filter &filter,
                         std::string_view format, SelectionFile &file) {
  static const struct {
    std::string_view name;
    const char *type;
    std::string (*write)(const std::vector<Position> &);
  } kFormats[] = {{"gpx", "application/gpx+xml", gpx},
                  {"geojson", "application/geo+json", geojson},
                  {"kml", "application/vnd.google-earth.kml+xml", kml}};
  std::vector<Position> pictures;
  for (const auto &known : kFormats)
    if (known.name == format) {
      if (!pictures_in(store, north_west, south_east, filter, pictures))
        return Selected::TooMany;
      file.bytes = known.write(pictures), file.type = known.type;
      return file.bytes.empty() ? Selected::Failed : Selected::Written;
    }
  return Selected::Failed;
}
