// The survey's loader against libexif's exif_data_new_from_file: the same
// harvest on every camera file and thousands of mutated pictures.
#include "picture/exif_load.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include "fixtures/fixture.h"
#include "fixtures/hostile.h"
#include "picture/exif_arena.h"
#include "test_support.h"

namespace {

void expect_same_harvest(const std::string &path, const std::string &label) {
  EXPECT_EQ(HarvestText(LoadExif(path.c_str())), HarvestText(LoadExifDefault(path.c_str()))) << label;
}

std::vector<std::string> corpus_files() {
  return LinesOf(RunProcess({"/usr/bin/find", CORPUS_DIR, "-type", "f"}).out);
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
  size_t note = jpeg.find("\x92\x7C\0\x07", 0, 4), latitude = jpeg.find("\0\x02\0\x05\0\0\0\x03", 0, 8);
  ASSERT_TRUE(WriteFile(dir / "s.jpg", Put32(jpeg, latitude + 8, uint32_t(note - jpeg.find("MM\0*", 0, 4)))));
  expect_same_harvest(dir / "s.jpg", "the latitude read from the maker note's entry: not hidden");
  std::string icc = "\xFF\xE2\xFF\xFF" + std::string(65533, 'i'); // three whole segments of profile first
  ASSERT_TRUE(WriteFile(dir / "s.jpg", jpeg.substr(0, 2) + icc + icc + icc + jpeg.substr(2)));
  expect_same_harvest(dir / "s.jpg", "EXIF after 192 KiB");
  std::string shm = "/dev/shm/pintrail-" + std::to_string(getpid()) + ".jpg"; // tmpfs may not read without waiting
  if (WriteFile(shm, jpeg))
    expect_same_harvest(shm, "on a file system that cannot read without waiting");
  unlink(shm.c_str());
  // The GPS pointer moved from IFD 0 into IFD 1 (over the thumbnail's length): libexif follows it.
  std::string moved = MakeJpeg(GpsEntries(GpsFix{}), 400);
  size_t gps = moved.find("\x88\x25\0\x04\0\0\0\x01", 0, 8);
  size_t length = moved.find("\x02\x02\0\x04\0\0\0\x01", 0, 8);
  ASSERT_TRUE(WriteFile(dir / "s.jpg", moved.replace(length, 12, moved.substr(gps, 12)).replace(gps, 2, "\x88\x26")));
  expect_same_harvest(dir / "s.jpg", "GPS pointer in IFD 1");
  EXPECT_EQ(HarvestText(LoadExif("", open((dir / "s.jpg").c_str(), O_RDONLY))).front(), '1'); // on 0, taken over
  unlink((dir / "s.jpg").c_str());
  std::mt19937 random(20160704);
  for (int i = 0; i < 4000; ++i) { // reproducible: the same mutations every run
    std::string path = dir / (std::to_string(i) + ".jpg");
    ASSERT_TRUE(WriteFile(path, MutatePicture(seeds[i % seeds.size()], random)));
    expect_same_harvest(path, "mutation " + std::to_string(i));
  }
  // On several threads the same lines as on one, a whole line for each file.
  std::string mutated = WalkOutput(dir.path, true);
  EXPECT_EQ(LinesOf(mutated).size(), 4000u);
  EXPECT_EQ(WalkOutput(dir.path, true, true), mutated); // ALLFORMATS changes no JPEG
  if (files.empty())
    GTEST_SKIP() << "no camera corpus at " << CORPUS_DIR;
  std::string corpus = WalkOutput(CORPUS_DIR, true);
  EXPECT_EQ(LinesOf(corpus).size(), files.size());
  EXPECT_NE(corpus.find("DSCN0010.jpg - lat = 43.4674 -  lon = 11.8851"), std::string::npos);
  EXPECT_NE(corpus.find("tiff/BSG1.tiff is not a JPEG!\n"), std::string::npos);
  std::string all_formats = WalkOutput(CORPUS_DIR, true, true);
  EXPECT_EQ(all_formats.find("tiff/BSG1.tiff is not a JPEG!"), std::string::npos);
  auto jpeg_lines = [](const std::string &output) {
    std::string kept;
    for (const std::string &line : LinesOf(output))
      kept += line.find(".tiff") == std::string::npos ? line + "\n" : "";
    return kept;
  };
  EXPECT_EQ(jpeg_lines(all_formats), jpeg_lines(corpus));
}

TEST(ExifLoad, ArenaStaysFlatAndHoldsNoMakerNoteNorThumbnail) {
  TempDir dir;
  std::vector<FixtureEntry> camera = CameraEntries();
  camera.push_back(Undefined(EXIF_IFD_EXIF, 0x927C, std::string(30000, 'm'))); // a maker note
  WriteFile(dir / "big.jpg", MakeJpeg(camera, 30000));
  WriteFile(dir / "small.jpg", MakeJpeg(GpsEntries(GpsFix{})));
  EXPECT_LT((LoadExif((dir / "big.jpg").c_str()), ExifArenaUsed()), 30000u); // neither copied
  for (int i = 0; i < 3; ++i)
    HarvestText(LoadExif((dir / "big.jpg").c_str()));
  size_t capacity = ExifArenaCapacity();
  for (int i = 0; i < 200; ++i)
    HarvestText(LoadExif((dir / (i % 2 ? "big.jpg" : "small.jpg")).c_str()));
  EXPECT_EQ(ExifArenaCapacity(), capacity);
  EXPECT_EQ(ExifArenaUsed(), 0u);
  EXPECT_FALSE(LoadExif(dir.path.c_str())); // libexif's loader found nothing: its memory given back
  EXPECT_EQ(ExifArenaUsed(), 0u);
}

} // namespace
