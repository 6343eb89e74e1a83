#include "picture/degrees.h"

#include <gtest/gtest.h>

namespace {

TEST(Degrees, FromCoordinateTexts) {
  struct Case { const char *text, *reference; double expected; } cases[] = {
      {"22, 54, 40.68", "S", -(22 + 54 / 60.0 + 40.68 / 3600)},
      {" 5,  3,  1", "E", 5 + 3 / 60.0 + 1 / 3600.0},   // one-digit components
      {",, 10 ,20", "N", 10 + 20 / 60.0},               // runs of delimiters
      {"1, 2, 3, 4, 5", "N", 1 + 2 / 60.0 + 3 / 3600.0}, // extra tokens ignored
      {"12abc, x, 7", "N", 12 + 7 / 3600.0},              // read from the start
      {"", "S", 0.0}, {"10, 0, 0", "s", 10.0}, {"10, 0, 0", "", 10.0}, {"10, 0, 0", "SW", 10.0}, };
  for (const Case &c : cases)
    EXPECT_DOUBLE_EQ(DegreesFromText(c.text, c.reference), c.expected) << c.text << " " << c.reference;
  // A token is read to its 63rd character: the digits after it count nothing.
  std::string long_token = "0." + std::string(61, '0') + "55";
  EXPECT_EQ(DegreesFromText(long_token.c_str(), "N"), 0.0);
}

TEST(Degrees, AltitudeIsTheLeadingNumberOverAThousand) {
  EXPECT_DOUBLE_EQ(AltitudeFromText("245.0"), 0.245);
  EXPECT_DOUBLE_EQ(AltitudeFromText("1200 m"), 1.2);
  EXPECT_DOUBLE_EQ(AltitudeFromText(""), 0.0);
  EXPECT_DOUBLE_EQ(AltitudeFromText("0/0"), 0.0);
}

} // namespace
