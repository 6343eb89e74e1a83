#include "maphost/map_command.h"

#include <gtest/gtest.h>

namespace {

TEST(MapCommand, AcceptsTheTwoCommandsAsTheToolSendsThem) {
  MapCommand parsed;
  ASSERT_TRUE(ParseMapCommand("addwaypoint 51.5034 -13.41 \"2016:07:04 12:34:56\"", parsed));
  EXPECT_EQ(parsed.kind, MapCommand::Waypoint);
  EXPECT_EQ(parsed.latitude, "51.5034");
  EXPECT_EQ(parsed.longitude, "-13.41");
  EXPECT_EQ(parsed.text, "2016:07:04 12:34:56");

  ASSERT_TRUE(ParseMapCommand("AddJPGPos -1.2345e-05 180 /a b/\"c\".jpg", parsed));
  EXPECT_EQ(parsed.kind, MapCommand::Picture);
  EXPECT_EQ(parsed.latitude, "-0.000012345");
  EXPECT_EQ(parsed.longitude, "180");
  EXPECT_EQ(parsed.text, "/a b/\"c\".jpg");

  ASSERT_TRUE(ParseMapCommand("addwaypoint 0 0 \"\"", parsed));
  EXPECT_EQ(parsed.text, "");
}

TEST(MapCommand, RefusesAnythingElse) {
  const char *bad[] = {
      "", "addwaypoint", "addwaypoint 1 2", "removeall 1 2 x", "AddJPGPos 1  2 p",
      "addwaypoint 1 2 name", "addwaypoint 1 2 \"open", // the name quoted, whole
      "ADDWAYPOINT 1 2 \"x\"",                        // command names are exact
      "AddJPGPos 1 2 ",                               // no path
      "AddJPGPos 91 0 p", "AddJPGPos 0 -180.5 p",     // off the globe
      "AddJPGPos nan 0 p", "AddJPGPos inf 0 p", "AddJPGPos 0x10 0 p",
      "AddJPGPos 1e999999 0 p", "AddJPGPos 1,5 0 p",
  };
  for (const char *command : bad) {
    MapCommand parsed;
    EXPECT_FALSE(ParseMapCommand(command, parsed)) << command;
  }
}

TEST(MapCommand, PlainDecimalKeepsTheValue) {
  struct Case {
    const char *in, *out;
  } cases[] = {
      {"51.5034", "51.5034"}, {"-13.41", "-13.41"}, {"1e+07", "10000000"},
      {"1.5e-05", "0.000015"}, {"-2.5E2", "-250"},  {"0", "0"},
      {"-0", "0"},             {"007.50", "7.5"},  {"1.", "1"},
      {".5", ""},              {"1e", ""},         {"--1", ""},
  };
  for (const Case &c : cases)
    EXPECT_EQ(PlainDecimal(c.in), c.out) << c.in;
}

} // namespace
