#include "maphost/places/place.h"

#include <gtest/gtest.h>

namespace {

TEST(Place, APictureIsNamedByItsTownRegionAndCountry) {
  const struct {
    const char *latitude, *longitude, *place; // "": at sea
  } known[] = {
      {"43.7731", "11.2560", "Florence, Italy"},   {"48.8584", "2.2945", "Paris, France"}, // a city, not its suburb
      {"-35.2809", "149.13", "Canberra, Australian Capital Territory, Australia"},         // capitals
      {"45.5017", "-73.5673", "Montréal, Québec, Canada"},  {"-23.5505", "-46.6333", "São Paulo, São Paulo, Brazil"},
      {"43.6950", "7.2650", "Nice, France"},       {"36.5297", "-6.2920", "Cadiz, Spain"},     // coasts
      {"-22.9519", "-43.2105", "Rio de Janeiro, Rio de Janeiro, Brazil"}, // a bay the borders miss
      {"48.5734", "7.7521", "Strasbourg, France"}, {"48.5769", "7.8150", "Kehl, Germany"}, // border towns
      {"32.5149", "-117.0382", "Tijuana, Mexico"}, {"32.7157", "-117.1611", "San Diego, California, United States"},
      {"47.5596", "7.5886", "Basel, Switzerland"}, {"42.3", "-83.05", "Windsor, Ontario, Canada"},
      {"10.5", "13.0", "Uba, Nigeria"}, {"10.9", "13.2", "Nigeria"}, // no Nigerian town near; Cameroon's are
      {"47.4979", "18.99", "Budapest, Hungary"}, // the city a degree of longitude east, its suburb not
      {"64.1466", "-21.9426", "Reykjavík, Iceland"}, {"35.8989", "14.5146", "Valletta, Malta"}, // islands
      {"21.3069", "-157.8583", "Honolulu, Hawaii, United States"}, {"-17.7134", "178.065", "Fiji"},
      {"30", "-40", ""},   {"56", "3", ""},   {"-75", "0", "Antarctica"}, {"90", "0", ""}, // the sea, the ice
      {"89.9", "179.9", ""}, // the last cell of the indexes
      {"x", "y", ""},      {"91", "0", ""}, {"41.55", "-82.6", "Sandusky, United States"}, // Lake Erie: no state's
  };
  for (const auto &k : known)
    EXPECT_EQ(PlaceOf(k.latitude, k.longitude), k.place) << k.latitude << ", " << k.longitude;
}

// Sorted by its key, the largest first, a list is grouped by country.
TEST(Place, AKeyNamesTheCountryFirstAndShowsAsThePlace) {
  EXPECT_EQ(PlaceKeyOf("30.2672", "-97.7431"), "United States\x1fTexas\x1f" "Austin");
  EXPECT_EQ(ShownPlace("United States\x1fTexas\x1f" "Austin"), "Austin, Texas, United States");
  EXPECT_EQ(ShownPlace("Fiji"), "Fiji");
  EXPECT_EQ(ShownPlace(""), "");
}

} // namespace
