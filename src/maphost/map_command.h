// The two commands the map host understands, checked and taken apart.
#pragma once

#include <string>

struct MapCommand {
  enum Kind { Waypoint, Picture } kind = Waypoint;
  std::string latitude;  // plain decimal text, as a GPX attribute wants it
  std::string longitude;
  std::string text;      // the waypoint's name, or the picture's path
};

// "addwaypoint LAT LON \"NAME\"" or "AddJPGPos LAT LON PATH", with LAT and
// LON decimal numbers on the globe. False for anything else.
bool ParseMapCommand(const std::string &command, MapCommand &parsed);

// A decimal number ("%g" output, exponent allowed) as a plain decimal text
// of the same value, or "" when the text is no such number.
std::string PlainDecimal(const std::string &number);
