// The map application's port and the two commands it understands: made by
// the tool, checked and taken apart by the host.
#pragma once

#include <string>

constexpr char kMapPortName[] = "VANTORA.1";

// The command texts, as sent: positions to nine significant digits, about
// a decimetre anywhere on Earth.
std::string FormatWaypoint(double latitude, double longitude, const char *name);
std::string FormatPicturePosition(double latitude, double longitude, const char *path);

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
