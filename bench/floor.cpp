// The floor: the least a libexif survey can do with exif_data_new_from_file.
// Walks DIR (readdir, d_type), loads each file with libexif's defaults,
// visits every entry, formats the six tags, prints the position line the
// way pintrail does, and unrefs.
#include <libexif/exif-data.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_walk.h"

namespace {

struct Texts {
  char lat_ref[64], lat[64], lon_ref[64], lon[64], alt[64], time[64];
};

char *slot_for(Texts &t, unsigned tag) {
  switch (tag) {
  case 1: return t.lat_ref;
  case 2: return t.lat;
  case 3: return t.lon_ref;
  case 4: return t.lon;
  case 6: return t.alt;
  case 0x9003: return t.time;
  default: return nullptr;
  }
}

void visit_entry(ExifEntry *entry, void *user) {
  char *slot = slot_for(*static_cast<Texts *>(user), entry->tag);
  if (slot)
    exif_entry_get_value(entry, slot, 64);
}

void visit_content(ExifContent *content, void *user) {
  exif_content_foreach_entry(content, visit_entry, user);
}

double degrees(const char *text, const char *ref) {
  double value = 0, divisor = 1;
  char copy[64];
  snprintf(copy, sizeof copy, "%s", text);
  char *save = nullptr;
  for (char *token = strtok_r(copy, ", ", &save); token && divisor <= 3600;
       token = strtok_r(nullptr, ", ", &save), divisor *= 60)
    value += atof(token) / divisor;
  return strcmp(ref, "S") == 0 || strcmp(ref, "W") == 0 ? -value : value;
}

void survey(const std::string &path) {
  ExifData *data = exif_data_new_from_file(path.c_str());
  if (!data) {
    printf("Picture %s is not a JPEG!\n", path.c_str());
    return;
  }
  Texts t{};
  exif_data_foreach_content(data, visit_content, &t);
  const char *name = strrchr(path.c_str(), '/') + 1;
  if (strchr(t.lat, ','))
    printf("%s - lat = %g -  lon = %g - alt = %g\n", name, degrees(t.lat, t.lat_ref),
           degrees(t.lon, t.lon_ref), atof(t.alt) / 1000);
  else
    printf("%s - No geo tag found!\n", name);
  exif_data_unref(data);
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: pintrail-floor DIR\n");
    return 2;
  }
  BenchWalk(argv[1], survey);
  return 0;
}
