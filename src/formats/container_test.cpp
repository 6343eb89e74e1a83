// ALLFORMATS: every format reports as a JPEG holding the same EXIF block;
// the compact copy of a TIFF harvests as libexif reading the whole file;
// hostile containers give no block or their position, never garbage.
#include "formats/container.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include "fixtures/formats.h"
#include "formats/tiff_block.h"
#include "platform/descriptor.h"
#include "test_support.h"

namespace {

const std::string kNone = "no EXIF data";

struct Format {
  const char *name;
  std::string (*make)(const std::string &block);
  bool read_without_switch; // libexif's own loader reads it
  size_t shortest;          // the fewest bytes it is known by; 0: not one of the other formats
};

const Format kFormats[] = {
    {"tif", [](const std::string &b) { return MakeTiff(b); }, false, 8},
    {"orf", [](const std::string &b) { return MakeTiff(b, "MMOR"); }, false, 8},
    {"png", [](const std::string &b) { return MakePng(b); }, false, 8},
    {"png-after-image", [](const std::string &b) { return MakePng(b, true); }, false, 8},
    {"webp", MakeWebp, false, 12}, {"heic", MakeHeic, false, 16},
    {"raf", [](const std::string &b) { return MakeRaf(WrapJpeg(b)); }, true, 0}, };

struct Block {
  const char *name;
  std::vector<FixtureEntry> entries;
  FixtureEntry far; // stored too, pushing later IFDs past 64 KiB when large
};

std::vector<Block> blocks() {
  GpsFix south_west{.lat_ref = "S", .lon_ref = "W", .altitude_ref = 1};
  std::vector<FixtureEntry> interop = GpsEntries(GpsFix{});
  interop.push_back(Ascii(EXIF_IFD_INTEROPERABILITY, 0x0001, "R98"));
  FixtureEntry small_note = Undefined(EXIF_IFD_EXIF, 0x927C, "note");
  return {{"gps", GpsEntries(GpsFix{}), small_note}, {"south-west", GpsEntries(south_west), small_note},
          {"interop", interop, small_note}, {"camera", CameraEntries(), small_note},
          {"far", GpsEntries(south_west), Undefined(EXIF_IFD_0, 0x02BC, std::string(70000, 'x'))}};
}

size_t count_of(const std::string &text, const std::string &part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    count++;
  return count;
}

TEST(Formats, EveryFormatReportsAsAJpegWithTheSameBlock) {
  TempDir dir;
  size_t with_gps = 0;
  for (const Block &block : blocks()) {
    ASSERT_TRUE(WriteFile(dir / "same.jpg", MakeJpeg(block.entries)));
    std::string expected = HarvestText(LoadExifDefault((dir / "same.jpg").c_str()));
    std::vector<FixtureEntry> stored = block.entries;
    stored.push_back(block.far);
    std::string exif = ExifBlock(stored);
    for (const Format &format : kFormats) {
      if (format.read_without_switch && block.far.bytes.size() > 60000)
        continue; // no JPEG holds it
      std::string path = dir / (std::string(block.name) + "." + format.name);
      ASSERT_TRUE(WriteFile(path, format.make(exif))) << path;
      EXPECT_EQ(HarvestText(LoadExif(path.c_str(), -1, true)), expected) << path;
      EXPECT_EQ(HarvestText(LoadExif(path.c_str())), format.read_without_switch ? expected : kNone) << path;
      with_gps += expected[0] == '1';
    }
  }
  // The walk with the switch: every position; without it the files libexif's loader cannot read are no JPEGs.
  std::string with = WalkOutput(dir.path, true, true), without = WalkOutput(dir.path, true);
  EXPECT_EQ(count_of(with, " - lat = "), with_gps + 1);
  EXPECT_EQ(count_of(without, "is not a JPEG!\n"), 30u);
  EXPECT_NE(with.find("far.heic - lat = -51.5034 -  lon = -13.41 - alt = -0.245\n"), std::string::npos);
  // Each cut short once opened: no reader takes what is gone, nor waits for it.
  std::vector<unsigned char> exif(kMostBlockBytes);
  for (const Format &format : kFormats) {
    std::string path = dir / (std::string("gps.") + format.name), file = ReadFileText(path);
    const unsigned char *head = reinterpret_cast<const unsigned char *>(file.data());
    Descriptor fd(open(path.c_str(), O_RDONLY));
    FileSource source;
    unsigned char past = 0; // one byte past the head comes from the file
    ASSERT_TRUE(OpenFileSource(fd.fd, head, 16, source) && ReadAt(source, 16, &past, 1) && truncate(path.c_str(), 16) == 0);
    EXPECT_EQ(past, static_cast<unsigned char>(file[16])) << path;
    EXPECT_EQ(FindOtherFormatExif(source, exif.data()), IsTiffHeader(head) ? 14u : 0u) << path; // a header
    EXPECT_TRUE(!format.shortest || (IsOtherFormat(head, format.shortest) && !IsOtherFormat(head, format.shortest - 1))) << path;
  }
}

// libexif reading the whole TIFF file as one block, as a JPEG would hold it.
std::string whole_file_harvest(std::string tiff) {
  tiff.replace(2, 2, tiff[0] == 'I' ? std::string("\x2A\0", 2) : std::string("\0\x2A", 2));
  std::string block = std::string("Exif\0\0", 6) + tiff;
  ExifHandle data(exif_data_new(), ExifRelease{});
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(data.get(), reinterpret_cast<const unsigned char *>(block.data()),
                      static_cast<unsigned>(block.size()));
  return HarvestText(std::move(data));
}


TEST(Formats, CompactTiffHarvestsAsLibexifReadingTheWholeFile) {
  std::vector<std::string> seeds;
  for (const Block &block : blocks())
    seeds.push_back(MakeTiff(ExifBlock(block.entries, 200)));
  std::string gps = seeds[0];
  // IFD 0 is at 8 and its first entry is the EXIF pointer, the second GPS's.
  seeds.push_back(Put32(gps, 18, 8));          // the EXIF IFD is IFD 0: a loop
  seeds.push_back(Put32(gps, 30, 18 + 12));    // GPS pointing into IFD 0's entries
  seeds.push_back(Put32(gps, 18, uint32_t(gps.size()))); // just past the end: IFD 0 ends there
  seeds.push_back(Put32(Put32(gps, 10, 0x02010004), 18, uint32_t(gps.size()))); // so does a thumbnail's offset past it
  size_t ifd0 = 2 + 12 * BigEndianAt(gps, 8, 2) + 4; // copied to the end: IFD 0 away from 8
  seeds.push_back(Put32(gps + gps.substr(8, ifd0), 4, uint32_t(gps.size())));
  std::string moved = gps; // the GPS pointer in IFD 1, over the thumbnail's length: libexif follows it
  size_t pointer = moved.find("\x88\x25\0\x04\0\0\0\x01", 0, 8), length = moved.find("\x02\x02\0\x04\0\0\0\x01", 0, 8);
  seeds.push_back(moved.replace(length, 12, moved.substr(pointer, 12)).replace(pointer, 2, "\x88\x26"));
  seeds.push_back(gps.replace(8, 2, "\xFF\xFF")); // 65,535 entries
  for (const std::string &file : LinesOf(RunProcess({"/usr/bin/find", CORPUS_DIR "/tiff", "-size", "-60k"}).out))
    if (file.find(".tif") != std::string::npos)
      seeds.push_back(ReadFileText(file));
  TempDir dir;
  std::mt19937 random(20161206);
  for (size_t i = 0; i < 3000; ++i) {
    std::string bytes = i < seeds.size() ? seeds[i] : MutatePicture(seeds[i % seeds.size()], random);
    if (bytes.size() < 8 || !IsTiffHeader(reinterpret_cast<const unsigned char *>(bytes.data())))
      continue;
    ASSERT_TRUE(WriteFile(dir / "t.tif", bytes));
    EXPECT_EQ(HarvestText(LoadExif((dir / "t.tif").c_str(), -1, true)), whole_file_harvest(bytes)) << "case " << i;
  }
  GpsFix huge{.lat_ref = std::string(65337, 'N')}; // the longest reference that fits: the copy fills the block to its last byte
  ASSERT_TRUE(WriteFile(dir / "t.tif", MakeTiff(ExifBlock(GpsEntries(huge)))));
  EXPECT_EQ(HarvestText(LoadExif((dir / "t.tif").c_str(), -1, true)).substr(0, 2), "10"); // a position
  // IFD 0's table cut short: its link to IFD 1 counts for nothing, and the copy's IFD 0 links to none.
  FileSource source = MemorySource(reinterpret_cast<const unsigned char *>(gps.data()), gps.size());
  std::string copy(kMostBlockBytes, '\1');
  EXPECT_FALSE(ReadAt(source, gps.size() - 1, copy.data(), 2)); // nothing past the end
  size_t size = CompactTiff(source, {0, gps.size()}, false, reinterpret_cast<unsigned char *>(copy.data()));
  size_t link = 6 + 8 + 2 + 12 * size_t(BigEndianAt(copy, 14, 2)); // past "Exif\0\0", the header
  EXPECT_TRUE(link + 4 <= size && copy.substr(link, 4) == std::string(4, '\0')) << link;
}

TEST(Formats, HostileContainersGiveNoBlockOrTheirPosition) {
  std::string exif = ExifBlock(GpsEntries(GpsFix{}));
  std::string png = MakePng(exif), webp = MakeWebp(exif), heic = MakeHeic(exif);
  auto empty_chunks = [](int n) {
    std::string chunks;
    for (int i = 0; i < n; i++)
      chunks += std::string("\0\0\0\0tEXt\0\0\0\0", 12);
    return chunks;
  };
  const std::string lies = "\xFF\xFF\xFF\xF0";
  uint32_t meta_size = BigEndianAt(heic, heic.find("meta") - 4, 4);
  struct Case { const char *name; std::string bytes; bool position; } cases[] = {
      {"png chunk size past the end", Patched(png, "eXIf", -4, lies), false},
      {"png eXIf as the last chunk read, the 65,536th", png.substr(0, 33) + empty_chunks(65534) + png.substr(33), true},
      {"png eXIf as the 65,537th chunk: not read", png.substr(0, 33) + empty_chunks(65535) + png.substr(33), false},
      {"webp RIFF size past the end", Patched(webp, "RIFF", 4, lies), true},
      {"webp EXIF size past the end", Patched(webp, "EXIF", 4, lies), false},
      {"heif meta size past the end", Patched(heic, "meta", -4, lies), false},
      {"heif box in meta past its end", Patched(HeicWithBoxes(heic, FreeBoxes(1), true), "free", -4, lies), false},
      {"heif item count huge", Patched(heic, "iloc", 10, "\xFF\xFF"), true},
      {"heif Exif item in idat, its extent indexed", MakeHeicExifInIdat(exif), true},
      {"heif iloc of version 2, items counted and named in 32 bits", MakeHeicExifInIdat(exif, 2), true},
      {"heif iloc of version 0 with bits set where later versions size an index", Patched(heic, "iloc", 9, "\x44"), true},
      {"heif Exif item of zero length at the end", Patched(heic, "iloc", 34, Put32("....", 0, uint32_t(heic.size()))), false},
      {"heif Exif item in no extent", Patched(heic, "iloc", 38, std::string(2, '\0')), false},
      {"heif Exif item in another file", Patched(heic, "iloc", 32, std::string("\0\x01", 2)), false},
      {"heif Exif item not in iloc", Patched(heic, "iloc", 30, std::string("\0\x09", 2)), false},
      {"heif Exif item past iloc's count", Patched(heic, "iloc", 10, std::string("\0\x01", 2)), false},
      {"heif meta after 1,000 boxes", HeicWithBoxes(heic, FreeBoxes(1000)), true},
      {"heif meta after 1,100 boxes", HeicWithBoxes(heic, FreeBoxes(1100)), false},
      {"heif meta box to the end of the file", Patched(heic, "meta", -4, std::string(4, '\0')), true},
      {"heif empty box in meta", HeicWithBoxes(heic, FreeBoxes(1), true), true},
      {"heif meta of 1 MiB", HeicWithBoxes(heic, FreeBoxes(1, (1 << 20) - meta_size), true), true},
      {"heif meta past 1 MiB", HeicWithBoxes(heic, FreeBoxes(1, (1 << 20) - meta_size + 1), true), false},
      {"heif brands foreign, heic as minor version", heic.substr(0, 8) + "isomheicisomisomisom" + heic.substr(28), false},
      {"heif brand last of its compatible ones", heic.substr(0, 8) + "isom0000isomisommif1" + heic.substr(28), true},
  };
  TempDir dir;
  ASSERT_TRUE(WriteFile(dir / "a.jpg", MakeJpeg(GpsEntries(GpsFix{}))));
  std::string expected = HarvestText(LoadExif((dir / "a.jpg").c_str()));
  for (const Case &c : cases) {
    ASSERT_TRUE(WriteFile(dir / "c", c.bytes));
    EXPECT_EQ(HarvestText(LoadExif((dir / "c").c_str(), -1, true)), c.position ? expected : kNone) << c.name;
  }
}

} // namespace
