// The web view's pictures: a thumbnail from each format, upright and small;
// bombs refused by their headers (damaged files of every format: fuzz_thumbnail).
#include "maphost/thumbnails/shown.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>

#include "fixtures/fixture.h"
#include "fixtures/formats.h"
#include "formats/tiff_preview.h"
#include "maphost/thumbnails/decode.h"
#include "test_support.h"

namespace {

std::pair<int, int> jpeg_size(const std::string &jpeg) {
  Raster decoded = DecodeJpeg(jpeg, 0);
  return {decoded.width, decoded.height};
}

long peak_kib() {
  rusage usage{};
  return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : 0;
}

std::vector<FixtureEntry> with(std::vector<FixtureEntry> entries, FixtureEntry more) {
  entries.push_back(more);
  return entries;
}

struct Sample {
  const char *name;
  std::string file;
  std::pair<int, int> thumbnail; // its size; {0, 0}: none
};

std::vector<Sample> samples() {
  std::string block = ExifBlock(GpsEntries(GpsFix{})), raf = MakeRaf(PlainJpeg());
  std::string cyclic = MakeStripTiff(PlainJpeg()), wide = WrapJpeg(ExifBlock(GpsEntries(GpsFix{})), 640, 320);
  cyclic[22] = 8, cyclic[36] = 6; // IFD 0's next IFD is itself; its strip an old-style JPEG
  return {{"turned JPEG", WrapJpeg(ExifBlock(with(GpsEntries(GpsFix{}), Short(EXIF_IFD_0, 0x0112, 6))), 640, 320), {128, 256}},
          {"JPEG cut short: what came", wide.substr(0, wide.size() - 100), {256, 128}},
          {"JPEG with an EXIF thumbnail", WrapJpeg(ExifBlock(GpsEntries(GpsFix{}), 400), 8, 4), {1, 1}}, // not one of its 8 x 4
          {"HEIC", MakeHeic(block), {64, 64}}, {"HEIC with a thumbnail item", MakeHeic(block, 32), {32, 32}},
          {"PNG", MakePng(block), {1, 1}}, {"WebP", MakeWebp(block), {1, 1}},
          {"TIFF with a preview", MakeTiff(ExifBlock(GpsEntries(GpsFix{}), 400)), {1, 1}},
          {"ORF with a preview", MakeTiff(ExifBlock(GpsEntries(GpsFix{}), 400), "MMOR"), {1, 1}},
          {"TIFF without one", MakeTiff(block), {0, 0}}, {"TIFF with a JPEG strip", MakeStripTiff(PlainJpeg()), {1, 1}},
          {"TIFF of its own pixels alone", MakeRgbTiff(4, 2), {4, 2}},
          {"TIFF whose IFDs loop", cyclic, {1, 1}}, {"RAF", MakeRaf(MakeJpeg(GpsEntries(GpsFix{}))), {1, 1}},
          {"RAF ending with its JPEG", raf.substr(0, raf.size() - 4096), {1, 1}},
          {"text", "not a picture at all", {0, 0}}, {"0xFF, then no JPEG", "\xFF\xD9\xFF", {0, 0}}};
}

TEST(Thumbnails, AThumbnailFromEachFormatUprightAndSmall) {
  for (const Sample &sample : samples()) {
    std::string thumbnail = MakeThumbnail(sample.file);
    std::pair<int, int> none{0, 0};
    EXPECT_EQ(thumbnail.empty() ? none : jpeg_size(thumbnail), sample.thumbnail) << sample.name;
    WholePicture whole = ShowWhole(sample.file);
    EXPECT_EQ(whole.type != nullptr, sample.thumbnail.first != 0) << sample.name;
    if (whole.type) {
      EXPECT_GT(jpeg_size(whole.bytes).first + (std::string(whole.type) != "image/jpeg"), 0) << sample.name;
    }
  }
  EXPECT_EQ(ShowWhole(MakePng(ExifBlock({}))).bytes, MakePng(ExifBlock({}))); // shown as it is
  EXPECT_EQ(ShowWhole(MakeStripTiff(std::string("\xFF\xD8\xFF\xD9", 4))).bytes.size(), 4u); // the least JPEG
  EXPECT_EQ(ShowWhole(MakeStripTiff("\xFF\xD8\xFF\xD9", "\xFF\xD8\xFE\xD9")).bytes, "\xFF\xD8\xFE\xD9"); // the first found of two
  EXPECT_EQ(DecodeTiff(MakeRgbTiff(2, 1)).rgb, (std::vector<uint8_t>{255, 0, 0, 0, 0, 255})); // the first pixel too
}

TEST(Thumbnails, MakingThemOverAndOverHoldsNoMemory) {
  auto in_use = [] { struct mallinfo2 m = mallinfo2(); return long(m.uordblks + m.hblkhd); };
  long before = 0;
  for (int round = 0; round <= 30; round++, before = before ? before : in_use()) // from the second, what stays is held
    for (const Sample &sample : samples())
      MakeThumbnail(sample.file), ShowWhole(sample.file), ReadFacts(sample.file);
  EXPECT_LT(in_use() - before, 256 << 10);
}

TEST(Thumbnails, FactsFromTheExifOfEachFormat) {
  GpsFix below{.altitude_ref = 1};
  for (const std::string &file : {MakeJpeg(GpsEntries(below)), MakePng(ExifBlock(GpsEntries(below))),
                                  MakeTiff(ExifBlock(GpsEntries(below)))}) {
    PictureFacts facts = ReadFacts(file);
    EXPECT_EQ(facts.time, "2016:07:04 12:34:56");
    EXPECT_TRUE(facts.has_altitude);
    EXPECT_DOUBLE_EQ(facts.altitude, -245.0);
  }
  GpsFix level{.altitude = {0, 1}}; // at sea level it has one, 0 m
  EXPECT_EQ(std::pair(ReadFacts(MakeJpeg(GpsEntries(level))).has_altitude, ReadFacts(MakeJpeg(GpsEntries(level))).altitude),
            std::pair(true, 0.0));
  level.with_altitude = false;
  EXPECT_FALSE(ReadFacts(MakeJpeg(with(GpsEntries(level), Undefined(EXIF_IFD_GPS, 6, std::string("\0\0\0\5\0\0\0\1", 8))))).has_altitude); // no rational
  EXPECT_EQ(ReadFacts(MakeJpeg(with(CameraEntries(), Short(EXIF_IFD_0, 0x0112, 8)))).orientation, 8);
  for (auto [stored, read] : {std::pair{8, 8}, {9, 1}, {0, 1}}) // as a raw file's preview is turned, not as its thumbnail
    EXPECT_EQ(ReadTiffFacts(MakeTiff(ExifBlock(with(with(CameraEntries(), Short(EXIF_IFD_0, 0x0112, stored)), Short(EXIF_IFD_1, 0x0112, 3)), 400))).orientation, read);
  // No DateTimeOriginal: the next time there is, and which tag gave it.
  using Time = std::pair<std::string, std::string>;
  auto time_of = [](std::vector<FixtureEntry> entries) { PictureFacts f = ReadFacts(MakeJpeg(entries)); return Time(f.time, f.time_from); };
  FixtureEntry changed = Ascii(EXIF_IFD_0, 0x0132, "2002:02:02 02:02:02");
  EXPECT_EQ(time_of({Ascii(EXIF_IFD_EXIF, 0x9004, "2001:01:01 01:01:01"), changed}), Time("2001:01:01 01:01:01", "digitized"));
  EXPECT_EQ(time_of({changed}), Time("2002:02:02 02:02:02", "changed"));
  EXPECT_EQ(time_of({Ascii(EXIF_IFD_GPS, 0x001D, "2003:03:03"), Rationals(EXIF_IFD_GPS, 0x0007, {{3, 1}, {30, 1}, {5, 2}})}),
            Time("2003:03:03 03:30:02", "GPS (UTC)"));
  EXPECT_EQ(time_of({Ascii(EXIF_IFD_GPS, 0x001D, "2003:03:03")}), Time("", "")); // a date without its time of day
}

// 60,000 x 60,000 pixels claimed: refused before any is allocated (ASan would fail the run otherwise).
TEST(Thumbnails, BombsRefusedByTheirHeaders) {
  long before = peak_kib();
  EXPECT_EQ(MakeThumbnail(MakePngClaiming(60000, 60000)), "");
  EXPECT_TRUE(DecodePng(MakePngClaiming(10000, 10000)).rgb.empty()); // too many bytes, though not pixels
  EXPECT_LT(peak_kib() - before, 64 << 10);
  EXPECT_TRUE(DecodeJpeg(WrapJpeg("", 65000, 65000), kThumbnailSide).rgb.empty()); // however small it would decode
  std::string webp = MakeWebp(ExifBlock({}));
  webp.replace(webp.find("VP8X") + 12, 6, std::string(6, '\xFF')); // its canvas: 16,777,216 a side
  EXPECT_TRUE(DecodeWebp(webp, kThumbnailSide).rgb.empty());
  std::string heic = MakeHeic(ExifBlock({}));
  Raster flat = DecodeHeif(heic, false); // intact, it decodes whole: one colour, the first row as the last
  EXPECT_TRUE(flat.rgb.size() == 64 * 64 * 3 && std::equal(flat.rgb.begin(), flat.rgb.begin() + 192, flat.rgb.end() - 192));
  size_t ispe = heic.find("ispe");
  ASSERT_NE(ispe, std::string::npos);
  heic.replace(ispe + 8, 8, std::string("\x00\x00\xEA\x60\x00\x00\xEA\x60", 8));
  EXPECT_TRUE(DecodeHeif(heic, true).rgb.empty());
  EXPECT_FALSE(FitsInMemory(kMostPixels + 1, 1));
  EXPECT_TRUE(FitsInMemory(kMostPixels, 1));
  EXPECT_FALSE(FitsInMemory(0, 5) || FitsInMemory(5, 0)); // an empty picture: nothing to decode
}

// Counted as what they would allocate, a progressive JPEG and an EXIF thumbnail that is one are
// refused before decoding; the picture around the thumbnail still gets one of its own.
TEST(Thumbnails, ProgressiveBombsRefusedAsThumbnailsOrPictures) {
  std::string bomb = MakeProgressiveBomb(), around = MakeJpeg(GpsEntries(GpsFix{}), bomb.size());
  around.replace(around.find("\xFF\xD8", 2), bomb.size(), bomb); // IFD 1's thumbnail
  long before = peak_kib();
  EXPECT_TRUE(DecodeJpeg(bomb, kThumbnailSide).rgb.empty());
  EXPECT_TRUE(DecodeJpeg(bomb, 0).rgb.empty());
  EXPECT_EQ(MakeThumbnail(bomb), "");
  EXPECT_EQ(jpeg_size(MakeThumbnail(around)), std::make_pair(1, 1)); // its own 1 x 1 picture
  EXPECT_LT(peak_kib() - before, 64 << 10);
}

// What the web view reads: regular files alone, never waiting on a FIFO.
TEST(Thumbnails, ReadsRegularFilesAlone) {
  TempDir dir;
  std::string bytes;
  ASSERT_TRUE(WriteFile(dir / "p.jpg", "jpeg") && mkfifo((dir / "fifo").c_str(), 0600) == 0);
  EXPECT_TRUE(ReadPictureFile(dir / "p.jpg", bytes) && bytes == "jpeg"); // on descriptor 0
  EXPECT_FALSE(ReadPictureFile(dir / "fifo", bytes) || ReadPictureFile(dir.path, bytes));
}

// Each EXIF orientation turns a picture upright; a large one is averaged down.
TEST(Thumbnails, OrientTurnsEachOfTheEight) {
  Raster picture; // 2 x 1: a red pixel, then a blue one
  picture.width = 2, picture.height = 1, picture.rgb = {255, 0, 0, 0, 0, 255};
  const std::pair<int, std::vector<uint8_t>> cases[] = {
      {1, {255, 0, 0, 0, 0, 255}}, {2, {0, 0, 255, 255, 0, 0}}, {3, {0, 0, 255, 255, 0, 0}},
      {4, {255, 0, 0, 0, 0, 255}}, {5, {255, 0, 0, 0, 0, 255}}, {6, {255, 0, 0, 0, 0, 255}},
      {7, {0, 0, 255, 255, 0, 0}}, {8, {0, 0, 255, 255, 0, 0}}};
  for (const auto &[orientation, rgb] : cases) {
    Raster turned = Orient(picture, orientation);
    EXPECT_EQ(turned.rgb, rgb) << orientation;
    EXPECT_EQ(turned.width, orientation >= 5 ? 1 : 2) << orientation;
  }
  Raster wide; // 4 x 2 averages to 2 x 1
  wide.width = 4, wide.height = 2, wide.rgb.assign(24, 0);
  for (int i = 0; i < 4; i++) wide.rgb[3 * i] = 200;
  Raster small = FitWithin(wide, 2);
  EXPECT_EQ(small.width, 2);
  EXPECT_EQ(small.rgb[0], 100);
}

} // namespace
