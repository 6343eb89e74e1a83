// The benchmark programs' walk: readdir with d_type, eight levels deep,
// dot entries skipped, every other entry handed to visit.
#pragma once

#include <dirent.h>

#include <string>

template <typename Visit> void BenchWalk(const std::string &dir, Visit &&visit, int level = 0) {
  DIR *listing = opendir(dir.c_str());
  if (!listing)
    return;
  while (dirent *entry = readdir(listing)) {
    if (entry->d_name[0] == '.')
      continue;
    std::string path = dir + "/" + entry->d_name;
    if (entry->d_type != DT_DIR)
      visit(path);
    else if (level < 8)
      BenchWalk(path, visit, level + 1);
  }
  closedir(listing);
}
