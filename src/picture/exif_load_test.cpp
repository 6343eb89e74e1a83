// The survey's loader against libexif's exif_data_new_from_file: the harvest
// must see exactly the same on real camera files and on thousands of
// mutated pictures.
#include "picture/exif_load.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>

#include <random>

#include "fixture.h"
#include "picture/exif_arena.h"
#include "picture/harvest.h"
#include "test_support.h"

namespace {

struct Harvest {
  bool loaded = false;
  GeoRecord record{};
};

Harvest harvest(ExifHandle data) {
  Harvest result;
  result.loaded = data != nullptr;
  if (data)
    HarvestData(data.get(), result.record);
  return result;
}

// Empty when both loaders agree; otherwise what differs.
std::string compare(const std::string &path) {
  Harvest fast = harvest(LoadExif(path.c_str()));
  Harvest floor = harvest(LoadExifDefault(path.c_str()));
  if (fast.loaded != floor.loaded)
    return "loaded " + std::to_string(fast.loaded) + " vs " + std::to_string(floor.loaded);
  const GeoRecord &a = fast.record, &b = floor.record;
  std::string differs;
  auto field = [&](const char *name, const char *x, const char *y) {
    if (strcmp(x, y) != 0)
      differs += std::string(name) + ": '" + x + "' vs '" + y + "' ";
  };
  field("lat_ref_kept", a.lat_ref_kept, b.lat_ref_kept);
  field("lat_ref_latest", a.lat_ref_latest, b.lat_ref_latest);
  field("lon_ref", a.lon_ref, b.lon_ref);
  field("latitude", a.latitude, b.latitude);
  field("longitude", a.longitude, b.longitude);
  field("altitude", a.altitude, b.altitude);
  field("capture_time", a.capture_time, b.capture_time);
  if (a.geo_tag_found != b.geo_tag_found)
    differs += "geo tag decision";
  return differs;
}

std::vector<std::string> corpus_files() {
  std::vector<std::string> files;
  ProcessResult found = RunProcess(
      {"/usr/bin/find", std::string(CORPUS_DIR), "-type", "f", "-size", "-4M"});
  std::string line;
  for (char c : found.out) {
    if (c != '\n') {
      line += c;
    } else {
      files.push_back(line);
      line.clear();
    }
  }
  return files;
}

std::vector<std::string> seed_pictures() {
  GpsFix south;
  south.lat_ref = "S";
  south.latitude = {{5, 1}, {0, 0}, {1234567, 100000}};
  std::vector<FixtureEntry> interop = GpsEntries(GpsFix{});
  interop.push_back(Ascii(EXIF_IFD_INTEROPERABILITY, 0x0001, "R98"));
  interop.push_back(Undefined(EXIF_IFD_INTEROPERABILITY, 0x0002, "0,00"));
  std::vector<FixtureEntry> camera = CameraEntries();
  camera.insert(camera.end(), interop.begin(), interop.end());
  std::string reversed = MakeJpeg(GpsEntries(south));
  ReverseStoredIfd(reversed, EXIF_IFD_GPS);
  // An Interoperability IFD without its index, and a version with a comma.
  std::vector<FixtureEntry> bare_interop = CameraEntries();
  bare_interop.push_back(Undefined(EXIF_IFD_INTEROPERABILITY, 0x0002, "1,2"));
  return {MakeJpeg(GpsEntries(GpsFix{})), MakeJpeg(camera, 2000), reversed,
          MakeJpeg(interop), MakeJpeg(bare_interop)};
}

std::string read_bytes(const std::string &path) { return ReadFileText(path); }

std::string mutate(const std::string &seed, std::mt19937 &random) {
  std::string bytes = seed;
  std::uniform_int_distribution<int> kind(0, 3);
  size_t focus = std::min<size_t>(bytes.size(), 4096); // the EXIF block
  auto at = [&](size_t limit) {
    return std::uniform_int_distribution<size_t>(0, limit ? limit - 1 : 0)(random);
  };
  switch (kind(random)) {
  case 0: // flip a few bytes
    for (int i = 0; i < 4; ++i)
      bytes[at(focus)] ^= static_cast<char>(1 << (random() % 8));
    break;
  case 1: // truncate
    bytes.resize(at(bytes.size()));
    break;
  case 2: { // splice a run of bytes from elsewhere
    size_t from = at(focus), to = at(focus), length = at(64);
    if (from + length <= bytes.size() && to + length <= bytes.size())
      bytes.replace(to, length, bytes.substr(from, length));
    break;
  }
  default: // set a byte to an edge value
    bytes[at(focus)] = "\x00\xFF\x7F\x80\x01"[random() % 5];
  }
  return bytes;
}

TEST(ExifLoad, SameHarvestAsLibexifOnCameraFiles) {
  std::vector<std::string> files = corpus_files();
  if (files.empty())
    GTEST_SKIP() << "no camera corpus at " << CORPUS_DIR;
  for (const std::string &file : files)
    EXPECT_EQ(compare(file), "") << file;
}

TEST(ExifLoad, SameHarvestAsLibexifOnMutatedPictures) {
  TempDir dir;
  std::vector<std::string> seeds = seed_pictures();
  for (const std::string &file : corpus_files())
    if (file.find("/jpg/") != std::string::npos)
      seeds.push_back(read_bytes(file));
  std::mt19937 random(20160704);
  std::string path = dir / "mutant.jpg";
  int disagreements = 0;
  for (int i = 0; i < 4000 && disagreements < 10; ++i) {
    const std::string &seed = seeds[i % seeds.size()];
    std::string bytes = mutate(seed, random);
    ASSERT_TRUE(WriteFile(path, bytes));
    std::string differs = compare(path);
    if (!differs.empty()) {
      ++disagreements;
      WriteFile(dir.path + "/../pintrail-mutant-" + std::to_string(i) + ".jpg", bytes);
    }
    EXPECT_EQ(differs, "") << "mutation " << i << " of seed " << i % seeds.size();
  }
}

TEST(ExifLoad, ArenaStaysFlat) {
  TempDir dir;
  WriteFile(dir / "big.jpg", MakeJpeg(CameraEntries(), 60000));
  WriteFile(dir / "small.jpg", MakeJpeg(GpsEntries(GpsFix{})));
  for (int i = 0; i < 3; ++i)
    harvest(LoadExif((dir / "big.jpg").c_str()));
  size_t capacity = ExifArenaCapacity();
  for (int i = 0; i < 200; ++i)
    harvest(LoadExif((dir / (i % 2 ? "big.jpg" : "small.jpg")).c_str()));
  EXPECT_EQ(ExifArenaCapacity(), capacity);
  EXPECT_EQ(ExifArenaUsed(), 0u);
  EXPECT_FALSE(LoadExif((dir / "missing.jpg").c_str()));
}

} // namespace
