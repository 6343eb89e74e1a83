// The library an exported page carries, read back as the page reads it.
#include "maphost/web/embedded.h"

#include <gtest/gtest.h>
#include <nettle/base64.h>
#include <nlohmann/json.hpp>
#include <random>

#include "maphost/store/cells.h"
#include "maphost/store/query.h"
#include "test_support.h"

namespace {

struct ReadBack {
  nlohmann::json head;
  std::string blob;
  std::vector<int32_t> column(const char *name) const {
    size_t offset = head["s"][name][0], count = head["s"][name][1];
    std::vector<int32_t> numbers(count);
    memcpy(numbers.data(), blob.data() + offset, count * 4); // little-endian, as the page reads it
    return numbers;
  }
  std::string bytes(const char *name) const { return blob.substr(head["s"][name][0], head["s"][name][2]); }
  std::vector<int64_t> summed(const char *name) const { // varints of zigzag steps, added up
    std::vector<int64_t> values{0};
    for (size_t at = head["s"][name][0], shift = 0, code = 0; values.size() <= head["s"][name][1]; shift = code = 0) {
      do code |= uint64_t(blob[at] & 0x7F) << shift, shift += 7; while (blob[at++] & 0x80);
      values.push_back(values.back() + (code % 2 ? -int64_t(code / 2) - 1 : int64_t(code / 2)));
    }
    return {values.begin() + 1, values.end()};
  }
};

ReadBack read_back(const EmbeddedLibrary &library) {
  ReadBack back{nlohmann::json::parse(library.json), std::string(BASE64_DECODE_LENGTH(library.blob.size()), '\0')};
  base64_decode_ctx context;
  size_t length = (base64_decode_init(&context), back.blob.size());
  EXPECT_TRUE(base64_decode_update(&context, &length, reinterpret_cast<uint8_t *>(back.blob.data()),
                                   library.blob.size(), library.blob.data()));
  return (back.blob.resize(length), back);
}

PositionFeed feed(const std::vector<Position> &positions) {
  return [&positions](const auto &visit) { std::for_each(positions.begin(), positions.end(), visit); };
}

Position picture(const char *lat, const char *lon, const char *path, const char *taken) {
  return Position{true, lat, lon, strrchr(path, '/') + 1, path, path, "", 0, 0, -1, taken};
}

TEST(EmbeddedLibrary, NamesStayTextInsideTheScriptElement) {
  Position hostile = picture("1.5", "-2", "/a</script>/b<!--\xFF.jpg", "");
  EmbeddedLibrary library = EmbedLibrary(feed({hostile}), {{0, {"data:image/jpeg;base64,</script>", 1.5}}});
  for (const std::string *text : {&library.json, &library.blob, &library.thumbnails})
    EXPECT_EQ(text->find('<'), std::string::npos) << *text;
  EXPECT_EQ(ExportedNames("id=\"library\">" + library.json + "</script>"),
            std::vector<std::string>{"b<!--\xEF\xBF\xBD.jpg"}); // invalid UTF-8 replaced
  EXPECT_EQ(nlohmann::json::parse(library.json)["f"][0], "/a</script>/");
  EXPECT_EQ(nlohmann::json::parse(library.thumbnails)["0"], "data:image/jpeg;base64,</script>");
}

// Names share their ends with the one before; capture times are steps in seconds, or text when not a time the page writes.
TEST(EmbeddedLibrary, PicturesComeFirstByCaptureTimeThenTheWaypointsWithoutOne) {
  Position lone{false, "10", "20", "Z\xC3\xBCrich", "", "", ""}, paired{false, "1", "2", "2020:01:01", "", "", "", 0, 0, 0};
  std::vector<Position> positions = {picture("1", "2", "/x/Z\xC3\xBCrich 2.jpg", "2020:01:01 10:00:00"), lone, paired,
                                     picture("-3.25", "179.9999999", "/y/early.jpg", "2019:12:31 23:59:59"),
                                     picture("91", "0", "/x/off.jpg", ""), picture("1", "2", "/x/none.jpg", "2019:02:29 10:00:00")};
  ReadBack back = read_back(EmbedLibrary(feed(positions), {}));
  EXPECT_EQ(back.head["names"], nlohmann::json({"00none.jpg", "04early", "04Z\xC3\xBCrich 2", "10\xC3\xBCrich"}));
  EXPECT_EQ(std::pair(back.head["taken"], back.bytes("times")), // no such day: text; 1577836799 s, 10 h 1 s on
            std::pair(nlohmann::json({"2019:02:29 10:00:00"}), std::string("\0\xFF\x83\xDF\xE0\x0B\xC3\xB2\x04", 9)));
  EXPECT_EQ(back.head["f"], nlohmann::json({"/x/", "/y/"}));
  EXPECT_EQ(back.column("folders"), std::vector<int32_t>({0, 0, 1, 1, 2, 0, 3, -1})); // runs: from, folder
  EXPECT_EQ(back.summed("lat"), std::vector<int64_t>({10000000, -32500000, 10000000, 100000000}));
  EXPECT_EQ(back.summed("lon"), std::vector<int64_t>({20000000, 1799999999, 20000000, 200000000}));
  // Four pictures at three places, the one off the map among them; one waypoint alone.
  EXPECT_EQ(back.head["n"], nlohmann::json({4, 3, 1}));
}

TEST(EmbeddedLibrary, EachZoomsCellsAreTheStoresClustersOfTheWorld) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> spread(-0.3, 0.3);
  Store store;
  for (int k = 0; k < 3000; k++) // around the antimeridian, a third of them far apart
    KeepPosition(store, picture(std::to_string(45 + spread(random) * (k % 3 ? 1 : 100)).c_str(),
                                std::to_string(179.5 + spread(random)).c_str(), ("/p/" + std::to_string(k)).c_str(), ""));
  ReadBack back = read_back(EmbedLibrary([&](const auto &visit) { EachPosition(store, visit); }, {}));
  std::vector<int32_t> cells = back.column("cells");
  std::vector<size_t> levels = back.head["s"]["levels"];
  for (int zoom = 0; zoom < kCellZooms; zoom++) {
    std::vector<std::tuple<int64_t, int64_t, double, bool>> clusters, embedded; // count, the one, latitude, a cover
    std::vector<Cluster> world = ClustersInView(store, zoom, MapPoint{0, 0}, MapPoint{kWorldSide - 1, kWorldSide - 1});
    for (const Cluster &c : world) // the host's covers only where the page draws them
      clusters.push_back({c.count, c.single, c.latitude, c.cover >= 0 || world.size() > 60});
    for (size_t c = 5 * levels[size_t(zoom)]; c < 5 * levels[size_t(zoom) + 1]; c += 5)
      embedded.push_back({cells[c], cells[c + 3], cells[c + 1] / 1e7, cells[c + 4] >= 0 && cells[c + 4] < 3000});
    std::sort(clusters.begin(), clusters.end());
    std::sort(embedded.begin(), embedded.end());
    ASSERT_EQ(embedded.size(), clusters.size()) << "zoom " << zoom;
    for (size_t i = 0; i < clusters.size(); i++)
      EXPECT_TRUE(std::get<0>(embedded[i]) == std::get<0>(clusters[i]) && std::get<1>(embedded[i]) == std::get<1>(clusters[i]) &&
                  std::get<3>(embedded[i]) && std::get<3>(clusters[i]) &&
                  std::abs(std::get<2>(embedded[i]) - std::get<2>(clusters[i])) < 2e-7) << "zoom " << zoom << " cell " << i;
  }
}

} // namespace
