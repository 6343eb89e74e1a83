// One position the map host keeps: a waypoint or a picture's.
#pragma once

#include <cstdint>
#include <string>

struct Position {
  bool picture = false;
  std::string latitude;  // plain decimal texts, as received
  std::string longitude;
  std::string name;      // the waypoint's name, or the picture's file name
  std::string path;      // a picture's absolute path; empty for other links
  std::string href;      // a picture's link: what makes it the same picture
  std::string raw;       // a waypoint read from a GPX file, as it stood there
  uint64_t device = 0;   // a picture's file as attached when its command came; 0, 0: none
  uint64_t inode = 0;
  // What the store makes of it: the waypoint of a picture, or the picture
  // of a waypoint, at the same place (-1: none), and the name of a
  // picture's waypoint, its capture time.
  int64_t partner = -1;
  std::string taken = {};
};
