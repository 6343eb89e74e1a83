// The map application's commands, delivered to its public port.
#pragma once

#include <optional>
#include <string>

constexpr char kMapPortName[] = "VANTORA.1";

// "addwaypoint LAT LON \"NAME\"" to the map application.
void SendWaypoint(double latitude, double longitude, const char *name);
// "AddJPGPos LAT LON PATH" to the map application.
void SendPicturePosition(double latitude, double longitude, const char *path);

// Delivers command to the named port, asks for a result and waits for the
// reply. The host's result text when it replied 0; nothing otherwise.
std::optional<std::string> SendCommand(const char *port_name,
                                       const char *command);

// The command texts, as sent.
std::string FormatWaypoint(double latitude, double longitude, const char *name);
std::string FormatPicturePosition(double latitude, double longitude,
                                  const char *path);
