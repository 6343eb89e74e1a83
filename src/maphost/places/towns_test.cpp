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

} // namespace
