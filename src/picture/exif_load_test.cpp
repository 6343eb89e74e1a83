// The survey's loader against libexif's exif_data_new_from_file: the same
// harvest on every camera file and thousands of mutated pictures.
#include "picture/exif_load.h"

#include <gtest/gtest.h>

#include <random>

#include "fixtures/fixture.h"
#include "picture/exif_arena.h"
#include "picture/harvest.h"
#include "test_support.h"

namespace {

// What the harvest made of a load, as one comparable text.
std::string harvest(ExifHandle data) {
  if (!data)
    return "no EXIF data";
  GeoRecord r{};
  HarvestData(data.get(), r);
  std::string all = std::to_string(r.geo_tag_found) + std::to_string(r.below_sea_level);
  for (const char *text : {r.lat_ref_kept, r.lat_ref_latest, r.lon_ref, r.latitude,
                           r.longitude, r.altitude, r.capture_time})
    all += std::string("|") + text;
  return all;
}

void expect_same_harvest(const std::string &path, const std::string &label) {
  EXPECT_EQ(harvest(LoadExif(path.c_str())), harvest(LoadExifDefault(path.c_str()))) << label;
}

std::vector<std::string> corpus_files() {
  return LinesOf(RunProcess({"/usr/bin/find", CORPUS_DIR, "-type", "f"}).out);
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

TEST(ExifLoad, SameHarvestAsLibexifOnCameraAndMutatedPictures) {
  std::vector<std::string> seeds = SeedPictures(), files = corpus_files();
  for (const std::string &file : files) {
    expect_same_harvest(file, file);
    if (file.find("/jpg/") != std::string::npos)
      seeds.push_back(ReadFileText(file));
  }
  TempDir dir;
  std::vector<FixtureEntry> noted = GpsEntries(GpsFix{}); // and a maker note to hide
  noted.push_back(Undefined(EXIF_IFD_EXIF, 0x927C, std::string(100, 'm')));
  std::string jpeg = MakeJpeg(noted); // segments libexif's loader skips or not
  for (const char *segment : {"\xE0\x00\x05JFI", "\xE2\x00\x05ICC", "\xE3\x00\x05" "abc",
                              "\xFE\x00\x05hi!", "\xE1\x00\x05htt", "\xDB\x00\x05qqq"}) {
    ASSERT_TRUE(WriteFile(dir / "s.jpg", jpeg.substr(0, 3) + std::string(segment, 6) + jpeg.substr(2)));
    expect_same_harvest(dir / "s.jpg", segment);
  }
  unlink((dir / "s.jpg").c_str());
  std::mt19937 random(20160704);
  for (int i = 0; i < 4000; ++i) { // reproducible: the same mutations every run
    std::string path = dir / (std::to_string(i) + ".jpg");
    ASSERT_TRUE(WriteFile(path, mutate(seeds[i % seeds.size()], random)));
    expect_same_harvest(path, "mutation " + std::to_string(i));
  }
  // On several threads the same lines as on one, a whole line for each file.
  EXPECT_EQ(LinesOf(WalkOutput(dir.path, true)).size(), 4000u);
  if (files.empty())
    GTEST_SKIP() << "no camera corpus at " << CORPUS_DIR;
  std::string corpus = WalkOutput(CORPUS_DIR, true);
  EXPECT_EQ(LinesOf(corpus).size(), files.size());
  EXPECT_NE(corpus.find("DSCN0010.jpg - lat = 43.4674 -  lon = 11.8851"), std::string::npos);
}

TEST(ExifLoad, ArenaStaysFlatAndHoldsNoMakerNoteNorThumbnail) {
  TempDir dir;
  std::vector<FixtureEntry> camera = CameraEntries();
  camera.push_back(Undefined(EXIF_IFD_EXIF, 0x927C, std::string(30000, 'm'))); // a maker note
  WriteFile(dir / "big.jpg", MakeJpeg(camera, 30000));
  WriteFile(dir / "small.jpg", MakeJpeg(GpsEntries(GpsFix{})));
  EXPECT_LT((LoadExif((dir / "big.jpg").c_str()), ExifArenaUsed()), 30000u); // neither copied
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
