// The tool's run: command line, GeoRecord, walk.
#pragma once

constexpr char kTemplate[] = "DIR/A,VERBOSE/S,POSITION/S,WAYPOINT/S,PICLIST/S,ALLFORMATS/S";

// Returns the tool's return code.
int RunPintrail(int argc, const char *const *argv);
