// pintrail-fixtures: writes sample picture trees with the fixture writer.
//   pintrail-fixtures demo DIR          a small tree for the demo
//   pintrail-fixtures library DIR N     N pictures in folders of 50, for
//                                       benchmarks: 70% with GPS, 20% EXIF
//                                       without GPS, 10% without EXIF
//   pintrail-fixtures seeds DIR         seed inputs for the fuzz targets
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "fixture.h"

namespace {

bool make_dir(const std::string &path) {
  return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool write_demo(const std::string &root) {
  GpsFix berlin;
  GpsFix south_west;
  south_west.lat_ref = "S";
  south_west.latitude = {{22, 1}, {54, 1}, {4068, 100}};
  south_west.lon_ref = "W";
  south_west.longitude = {{43, 1}, {10, 1}, {3012, 100}};
  south_west.altitude = {120, 1};
  south_west.time = "2016:07:05 09:15:00";
  GpsFix no_altitude;
  no_altitude.latitude = {{48, 1}, {51, 1}, {2412, 100}};
  no_altitude.longitude = {{2, 1}, {17, 1}, {4020, 100}};
  no_altitude.with_altitude = false;
  no_altitude.time = "2016:07:06 18:02:10";

  auto with_camera = [](std::vector<FixtureEntry> gps) {
    std::vector<FixtureEntry> all = CameraEntries();
    all.insert(all.end(), gps.begin(), gps.end());
    return MakeJpeg(all);
  };
  std::string trip = root + "/2016 Trip";
  return make_dir(root) && make_dir(trip) && make_dir(trip + "/Rio") &&
         WriteFile(trip + "/IMG_0001.jpg", with_camera(GpsEntries(berlin))) &&
         WriteFile(trip + "/Rio/IMG_0002.jpg", with_camera(GpsEntries(south_west))) &&
         WriteFile(trip + "/Paris at night.jpg", with_camera(GpsEntries(no_altitude))) &&
         WriteFile(trip + "/scan.jpg", MakeJpeg(CameraEntries())) &&
         WriteFile(root + "/plain.jpg", PlainJpeg()) &&
         WriteFile(root + "/notes.txt", "Not a picture.\n");
}

bool write_library(const std::string &root, long count) {
  unsigned long state = 20160704;
  auto next = [&state](unsigned long range) {
    state = state * 6364136223846793005UL + 1442695040888963407UL;
    return (state >> 33) % range;
  };
  if (!make_dir(root))
    return false;
  for (long i = 0; i < count; ++i) {
    std::string group = root + "/" + std::to_string(i / 1000);
    std::string folder = group + "/" + std::to_string(i / 50 % 20);
    if (i % 50 == 0 && !(make_dir(group) && make_dir(folder)))
      return false;
    unsigned long kind = next(10);
    std::string bytes;
    if (kind == 0) {
      bytes = PlainJpeg();
    } else {
      std::vector<FixtureEntry> entries = CameraEntries();
      if (kind >= 3) {
        GpsFix fix;
        fix.lat_ref = next(2) ? "N" : "S";
        fix.latitude = {{uint32_t(next(90)), 1}, {uint32_t(next(60)), 1},
                        {uint32_t(next(6000)), 100}};
        fix.lon_ref = next(2) ? "E" : "W";
        fix.longitude = {{uint32_t(next(180)), 1}, {uint32_t(next(60)), 1},
                         {uint32_t(next(6000)), 100}};
        fix.altitude = {uint32_t(next(40000)), 10};
        std::vector<FixtureEntry> gps = GpsEntries(fix);
        entries.insert(entries.end(), gps.begin(), gps.end());
      }
      bytes = MakeJpeg(entries, 6000);
    }
    char name[32];
    snprintf(name, sizeof name, "/IMG_%06ld.jpg", i);
    if (!WriteFile(folder + name, bytes))
      return false;
  }
  return true;
}

std::string be32(uint32_t v) {
  return {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}
std::string text(const std::string &t) { return be32(uint32_t(t.size())) + t; }

bool write_seeds(const std::string &root) {
  GpsFix south;
  south.lat_ref = "S";
  south.lon_ref = "W";
  south.latitude = {{5, 1}, {0, 0}, {123456, 10000}};
  std::vector<FixtureEntry> interop = GpsEntries(GpsFix{});
  interop.push_back(Ascii(EXIF_IFD_INTEROPERABILITY, 0x0001, "R98"));
  interop.push_back(Undefined(EXIF_IFD_INTEROPERABILITY, 0x0002, "0100"));
  std::string reversed = MakeJpeg(GpsEntries(south));
  ReverseStoredIfd(reversed, EXIF_IFD_GPS);
  const std::string pictures[] = {MakeJpeg(GpsEntries(GpsFix{})),
                                  MakeJpeg(GpsEntries(south), 300),
                                  MakeJpeg(interop), reversed,
                                  MakeJpeg(CameraEntries()), PlainJpeg()};
  auto words_of = [](std::initializer_list<const char *> list) {
    std::string joined;
    for (const char *word : list)
      joined += std::string(word) + '\0';
    joined.pop_back();
    return joined;
  };
  const std::string words[] = {
      words_of({"Photos", "POSITION"}), words_of({"DIR=a", "verbose", "PicList"}),
      words_of({"dir", "x", "WAYPOINT=1"}), words_of({"PORT", "P.1", "GPX=t.gpx", "QUIET"}),
      "\"My Photos\" *\"x*\" **"};
  std::string message = "RXM1" + be32(0x20000);
  const std::string exchanges[] = {
      std::string(1, '\0') + message + text("addwaypoint 51.5034 -13.41 \"2016:07:04 12:34:56\"") +
          text("VANTORA.1") + text(""),
      std::string(1, '\0') + message + text("AddJPGPos -1e-05 180 /a b/c.jpg") +
          text("VANTORA.1") + text(""),
      std::string(1, '\1') + "RXR1" + be32(0) + text("waypoint 1"),
      std::string(1, '\1') + "RXR1" + be32(10) + be32(0xFFFFFFFF),
      std::string(1, '\1') + "RXR1" + be32(0) + be32(0xFFFFFFFE)};
  bool ok = make_dir(root) && make_dir(root + "/picture") &&
            make_dir(root + "/args") && make_dir(root + "/exchange");
  int n = 0;
  for (const std::string &p : pictures)
    ok = ok && WriteFile(root + "/picture/seed" + std::to_string(n++), p);
  for (const std::string &w : words)
    ok = ok && WriteFile(root + "/args/seed" + std::to_string(n++), w);
  for (const std::string &e : exchanges)
    ok = ok && WriteFile(root + "/exchange/seed" + std::to_string(n++), e);
  return ok;
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "demo") == 0)
    return write_demo(argv[2]) ? 0 : 1;
  if (argc == 3 && strcmp(argv[1], "seeds") == 0)
    return write_seeds(argv[2]) ? 0 : 1;
  if (argc == 4 && strcmp(argv[1], "library") == 0)
    return write_library(argv[2], atol(argv[3])) ? 0 : 1;
  fprintf(stderr, "usage: pintrail-fixtures demo DIR | library DIR COUNT\n");
  return 2;
}
