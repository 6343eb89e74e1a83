#include "maphost/places/towns.h"

#include <gtest/gtest.h>

namespace {

TEST(Towns, APictureIsNamedByTheTownItWasTakenInOrBy) {
  const struct {
    double latitude, longitude;
    const char *town; // "": none within reach
  } known[] = {
      {43.7731, 11.2560, "Florence"},       {48.8584, 2.2945, "Paris"},          // a city, not its suburb
      {52.5163, 13.3777, "Berlin"},         {-35.2809, 149.1300, "Canberra"},    // capitals
      {-22.9519, -43.2105, "Rio de Janeiro"}, {35.6586, 139.7454, "Tokyo"},
      {43.6950, 7.2650, "Nice"},            {36.5297, -6.2920, "Cadiz"},        // coasts
      {47.5596, 7.5886, "Basel"},           {48.5734, 7.7521, "Strasbourg"},     // border towns
      {48.5769, 7.8150, "Kehl"},            {32.5149, -117.0382, "Tijuana"},
      {64.1466, -21.9426, "Reykjavík"},     {35.8989, 14.5146, "Valletta"},      // islands
      {21.3069, -157.8583, "Honolulu"},     {-17.7134, 178.0650, ""},
      {30, -40, ""},                        {56, 3, ""},                         // the sea
      {-75, 0, ""},                         {90, 0, ""},                         // the ice
  };
  for (const auto &k : known) {
    const Town *town = TownAt(WorldTowns(), k.latitude, k.longitude);
    EXPECT_EQ(town ? town->name : "", k.town) << k.latitude << ", " << k.longitude;
  }
}

} // namespace
