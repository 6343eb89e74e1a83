// The map application's commands, delivered to its public port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "maplink/grammar.h"

// How the map application took one command.
struct MapAnswer {
  enum Kind { Accepted, NoPort, Refused, NoAnswer } kind = NoPort;
  int32_t code = 0; // the host's return code
};

// "addwaypoint LAT LON \"NAME\"" to the map application. Without it, says so
// on the console.
MapAnswer SendWaypoint(double latitude, double longitude, const char *name);
// "AddJPGPos LAT LON PATH" to the map application, the same way.
MapAnswer SendPicturePosition(double latitude, double longitude, const char *path);

// Delivers command to the named port, asks for a result and waits for the
// reply. The host's result text when it replied 0; nothing otherwise.
std::optional<std::string> SendCommand(const char *port_name,
                                       const char *command);
