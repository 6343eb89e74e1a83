// The survey's loader against libexif's exif_data_new_from_file: the harvest
// must see exactly the same on real camera files and on thousands of
// mutated pictures.
#include "picture/exif_load.h"

#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>

#include <random>

#include "fixtures/fixture.h"
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
    return "one loader found EXIF data, the other none";
  const GeoRecord &a = fast.record, &b = floor.record;
  std::string differs = a.geo_tag_found != b.geo_tag_found ? "geo tag decision " : "";
  const char *texts_a[] = {a.lat_ref_kept, a.lat_ref_latest, a.lon_ref, a.latitude,
                           a.longitude, a.altitude, a.capture_time};
  const char *texts_b[] = {b.lat_ref_kept, b.lat_ref_latest, b.lon_ref, b.latitude,
                           b.longitude, b.altitude, b.capture_time};
  for (int i = 0; i < 7; ++i)
    if (strcmp(texts_a[i], texts_b[i]) != 0)
      differs += "'" + std::string(texts_a[i]) + "' vs '" + texts_b[i] + "' ";
  return differs;
}

std::vector<std::string> corpus_files() {
  return LinesOf(RunProcess({"/usr/bin/find", CORPUS_DIR, "-type", "f", "-size", "-4M"}).out);
}

// Byte flips, a truncation, a splice from elsewhere, or an edge value, in
// the EXIF block at the file's head.
std::string mutate(std::string bytes, std::mt19937 &random) {
  auto at = [&](size_t limit) { return limit ? random() % limit : 0; };
  size_t focus = std::min<size_t>(bytes.size(), 4096), from = at(focus), to = at(focus),
         length = at(64);
  switch (random() % 4) {
  case 0:
    for (int i = 0; i < 4; ++i)
      bytes[at(focus)] ^= static_cast<char>(1 << (random() % 8));
    break;
  case 1:
    bytes.resize(at(bytes.size()));
    break;
  case 2:
    if (std::max(from, to) + length <= bytes.size())
      bytes.replace(to, length, bytes.substr(from, length));
    break;
  default:
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
  std::vector<std::string> seeds = SeedPictures();
  for (const std::string &file : corpus_files())
    if (file.find("/jpg/") != std::string::npos)
      seeds.push_back(ReadFileText(file));
  std::mt19937 random(20160704);
  std::string path = dir / "mutant.jpg";
  for (int i = 0; i < 4000; ++i) { // reproducible: the same mutations every run
    ASSERT_TRUE(WriteFile(path, mutate(seeds[i % seeds.size()], random)));
    ASSERT_EQ(compare(path), "") << "mutation " << i << " of seed " << i % seeds.size();
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
