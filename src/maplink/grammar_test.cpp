#include "maplink/grammar.h"

#include <gtest/gtest.h>

namespace {

// The command's kind, latitude, longitude and text, "|"-separated.
std::string parsed(const char *command) {
  MapCommand c;
  return ParseMapCommand(command, c) ? std::to_string(c.kind == MapCommand::Picture) + "|" +
                                           c.latitude + "|" + c.longitude + "|" + c.text : "refused";
}

// What the tool formats, the host takes back: the same kind, text and values.
TEST(MapCommand, WhatTheToolSendsTheHostTakesBack) {
  std::string long_path = "/" + std::string(3000, 'p') + ".jpg"; // past a 1000-byte buffer
  struct Case { bool picture; double latitude, longitude; std::string text, lat, lon; } cases[] = {
      {false, 51.50343055555556, -13.41, "2016:07:04 12:34:56", "51.5034306", "-13.41"},
      {false, 90, -180, "a \"quoted\" name", "90", "-180"},
      {false, -0.0, 1e-7, "", "0", "0.0000001"},
      {true, -0.000012345, 180, "/a b/\"c\".jpg", "-0.000012345", "180"},
      {true, -89.999999999, 179.999999, long_path, "-90", "179.999999"}};
  for (const Case &c : cases) {
    std::string sent = c.picture ? FormatPicturePosition(c.latitude, c.longitude, c.text.c_str())
                                 : FormatWaypoint(c.latitude, c.longitude, c.text.c_str());
    MapCommand got;
    ASSERT_TRUE(ParseMapCommand(sent, got)) << sent.substr(0, 60);
    EXPECT_EQ(got.kind, c.picture ? MapCommand::Picture : MapCommand::Waypoint) << sent.substr(0, 60);
    EXPECT_EQ(got.latitude, c.lat) << sent.substr(0, 60);
    EXPECT_EQ(got.longitude, c.lon) << sent.substr(0, 60);
    EXPECT_EQ(got.text, c.text) << sent.substr(0, 60);
  }
}

TEST(MapCommand, AcceptsTheTwoCommandsAsTheToolSendsThem) {
  EXPECT_EQ(parsed("addwaypoint 51.5034 -13.41 \"2016:07:04 12:34:56\""), "0|51.5034|-13.41|2016:07:04 12:34:56");
  EXPECT_EQ(parsed("AddJPGPos -1.2345e-05 180 /a b/\"c\".jpg"), "1|-0.000012345|180|/a b/\"c\".jpg");
  EXPECT_EQ(parsed("addwaypoint 0 0 \"\""), "0|0|0|");
  EXPECT_EQ(parsed("AddJPGPos 90 -180 p"), "1|90|-180|p"); // the globe's edges
}

TEST(MapCommand, RefusesAnythingElse) {
  const char *bad[] = {
      "", "addwaypoint", "addwaypoint 1 2", "removeall 1 2 x", "AddJPGPos 1  2 p",
      "addwaypoint 1 2 name", "addwaypoint 1 2 \"open", "addwaypoint 1 2 \"", // quoted, whole
      "ADDWAYPOINT 1 2 \"x\"",                        // command names are exact
      "AddJPGPos 1 2 ",                               // no path
      "AddJPGPos 91 0 p", "AddJPGPos 0 -180.5 p",     // off the globe
      "AddJPGPos nan 0 p", "AddJPGPos inf 0 p", "AddJPGPos 0x10 0 p", "AddJPGPos 1e999999 0 p", "AddJPGPos 1,5 0 p", };
  for (const char *command : bad)
    EXPECT_EQ(parsed(command), "refused") << command;
}

TEST(MapCommand, PlainDecimalKeepsTheValue) {
  struct Case { const char *in, *out; } cases[] = {
      {"51.5034", "51.5034"}, {"-13.41", "-13.41"}, {"1e+07", "10000000"},
      {"1.5e-05", "0.000015"}, {"-2.5E2", "-250"},  {"0", "0"},
      {"-0", "0"},             {"007.50", "7.5"},  {"1.", "1"},
      {".5", ""},              {"1e", ""},         {"--1", ""}, };
  for (const Case &c : cases)
    EXPECT_EQ(PlainDecimal(c.in), c.out) << c.in;
  EXPECT_EQ(PlainDecimal("1e-400"), "0." + std::string(399, '0') + "1"); // the bounds of the
  EXPECT_EQ(PlainDecimal("1e-401"), "");                                  // exponent
  EXPECT_EQ(PlainDecimal("1e400").size(), 401u);
  EXPECT_EQ(PlainDecimal("1e401"), "");
}

} // namespace
