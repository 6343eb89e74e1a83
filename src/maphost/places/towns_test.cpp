#include "maphost/places/towns.h"

#include <gtest/gtest.h>

namespace {

// The nearest, a larger town counting as nearer, of the country asked.
TEST(Towns, APictureIsNamedByTheTownItWasTakenInOrBy) {
  const struct {
    double latitude, longitude;
    const char *country, *town; // "": none within reach
  } known[] = {
      {48.8584, 2.2945, "", "Paris"},  {48.5769, 7.8150, "", "Kehl"},    {48.5769, 7.8150, "FR", "Strasbourg"},
      {48.5769, 7.8150, "IT", ""},     {-17.7134, 178.0650, "", ""},     {-75, 0, "", ""},
      {36.01, 14.45, "", "San Pawl il-Baħar"}, // a degree of latitude away, nearer than Gozo's
  };
  for (const auto &k : known) {
    const Town *town = TownAt(WorldTowns(), k.latitude, k.longitude, k.country);
    EXPECT_EQ(town ? town->name : "", k.town) << k.latitude << ", " << k.longitude << " in " << k.country;
  }
}

std::string Varint(uint64_t value) {
  std::string bytes;
  for (; value >= 0x80; value >>= 7)
    bytes += char(0x80 | (value & 0x7f));
  return bytes + char(value);
}

// A town's message as the packed list holds it; lengths of texts below 128.
std::string TownMessage(const std::string &name, int64_t lat, int64_t lon, const std::string &kind, int cut = 0) {
  std::string m = std::string(1, 0x12) + Varint(name.size()) + name + "\x1a\x02IT\x3a" + Varint(kind.size()) + kind + "\x48" +
                  Varint(5000) + "\x58" + Varint(uint64_t(lat * 2) ^ uint64_t(lat >> 63)) + "\x50" +
                  Varint(uint64_t(lon * 2) ^ uint64_t(lon >> 63)) + "\x0a\x01x"; // a field not read, last
  return Varint(m.size() - cut) + m;
}

// Coordinates go on from the town before; parts of cities are left out; a list cut short or of unknown wire types is refused.
TEST(Towns, ThePackedListIsReadWholeOrRefused) {
  Towns towns;
  ASSERT_TRUE(ReadTowns(TownMessage("Florence", 4377000, 1125000, "PPLA") + TownMessage("Rifredi", 1000, -1000, "PPLX") +
                        TownMessage("Fiesole", 2000, 3000, "PPL") + TownMessage("Fiesole bis", 0, 0, "PPL") +
                        TownMessage("Taveuni", -6000000, -19087000, "PPL") + TownMessage("Labasa", -10000, 35950000, "PPL"), towns));
  ASSERT_EQ(towns.towns.size(), 5u);
  EXPECT_EQ(std::tuple(towns.towns[3].name, towns.towns[3].latitude, towns.towns[3].longitude, std::string(towns.towns[3].country)),
            std::tuple("Fiesole", 43.8, 11.27, "IT"));
  auto town_at = [&](double lat, double lon) { return TownAt(towns, lat, lon) ? TownAt(towns, lat, lon)->name : ""; };
  EXPECT_EQ(town_at(43.771, 11.251), "Florence");
  EXPECT_EQ(town_at(43.8, 11.27), "Fiesole"); // of two as near, the first listed
  EXPECT_EQ(town_at(-16.2, -179.6) + town_at(-16.2, 180), "TaveuniLabasa"); // the first column of cells, the last
  EXPECT_FALSE(ReadTowns(TownMessage("Florence", 4377000, 1125000, "PPL", 1), towns));
  EXPECT_FALSE(ReadTowns(std::string("\x08\x12\x01" "a\x0d\0\0\0\0", 9), towns)); // a fixed32 whose zeros would read as empty towns
}

} // namespace
