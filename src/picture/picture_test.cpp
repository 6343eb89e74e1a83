// Picture processing end to end: fixture pictures through libexif, the harvest, the reports.
#include "picture/picture.h"

#include <gtest/gtest.h>

#include "fixtures/fixture.h"
#include "test_support.h"

namespace {

struct Survey {
  TempDir dir;
  GeoRecord record;
  CapturedConsole console;

  explicit Survey(bool verbose = false, bool position = true) {
    InitGeoRecord(record, verbose ? -1 : 0, position ? -1 : 0, 0, 0);
  }
  std::string run(const std::string &name, const std::string &bytes) {
    std::string path = dir / name;
    EXPECT_TRUE(WriteFile(path, bytes));
    ProcessPicture(path.c_str(), record);
    return console.text();
  }
};

std::string gps_jpeg(void (*change)(GpsFix &)) {
  GpsFix fix;
  change(fix);
  return MakeJpeg(GpsEntries(fix));
}

std::string reversed_gps(const GpsFix &fix) { // latitude stored before its reference
  std::string jpeg = MakeJpeg(GpsEntries(fix));
  EXPECT_TRUE(ReverseStoredIfd(jpeg, EXIF_IFD_GPS));
  return jpeg;
}

// The usual GPS entries less the one with tag, or with it in another form.
std::string gps_without(uint16_t tag, std::vector<FixtureEntry> instead = {}) {
  std::vector<FixtureEntry> entries = GpsEntries(GpsFix{});
  std::erase_if(entries, [tag](const FixtureEntry &e) { return e.tag == tag; });
  entries.insert(entries.end(), instead.begin(), instead.end());
  return MakeJpeg(entries);
}

TEST(Picture, PositionLines) {
  std::vector<FixtureEntry> interop_alone = CameraEntries();
  interop_alone.push_back(Undefined(EXIF_IFD_INTEROPERABILITY, 0x0002, "0100"));
  GpsFix south{.lat_ref = "S"};
  const struct { std::string jpeg, line; } cases[] = {
      {gps_jpeg([](GpsFix &f) { f.lat_ref = "S", f.lon_ref = "W";
                                f.latitude[2] = {123456, 10000}; }), "lat = -51.5034 -  lon = -13.41 - alt = 0.245"},
      {gps_jpeg([](GpsFix &f) { f.lat_ref = "n", f.latitude = {{5, 1}, {0, 0}, {30, 1}};
                                f.altitude = {7, 0}; }), "lat = 5.00833 -  lon = 13.41 - alt = 0.007"},
      {gps_jpeg([](GpsFix &f) { f.altitude = {430, 1}, f.altitude_ref = 1; }),
       "lat = 51.5034 -  lon = 13.41 - alt = -0.43"},
      {gps_jpeg([](GpsFix &f) { f.altitude = {430, 1}, f.altitude_ref = 0; }),
       "lat = 51.5034 -  lon = 13.41 - alt = 0.43"},
      {gps_jpeg([](GpsFix &f) { f.with_altitude = false, f.altitude_ref = 1; }),
       "lat = 51.5034 -  lon = 13.41 - alt = 0"}, {reversed_gps(south), "lat = 51.5034 -  lon = 13.41 - alt = 0.245"},
      {gps_without(0x0005, {Short(EXIF_IFD_GPS, 0x0005, 0x0101)}), "lat = 51.5034 -  lon = 13.41 - alt = 0.245"}, // no BYTE
      {MakeJpeg(interop_alone), "No geo tag found!"},
      // The comma test reads the first 49 characters only.
      {MakeJpeg({Ascii(EXIF_IFD_GPS, 0x0002, std::string(60, '1') + ",5")}), "No geo tag found!"},
      // A position needs a latitude and a longitude, each a degree triple.
      {gps_without(0x0004), "No geo tag found!"}, {gps_without(0x0002), "No geo tag found!"},
      {MakeJpeg({Rationals(EXIF_IFD_GPS, 0x0002, {{5, 1}, {1, 1}, {0, 1}}),
                 Ascii(EXIF_IFD_GPS, 0x0004, "13")}), "No geo tag found!"},
  };
  Survey survey;
  int number = 0;
  for (const auto &c : cases) {
    std::string name = std::to_string(++number) + ".jpg";
    std::string before = survey.console.text();
    EXPECT_EQ(survey.run(name, c.jpeg).substr(before.size()), name + " - " + c.line + "\n");
  }
}

TEST(Picture, VerboseBlocksNoGeoTagAndNoExif) {
  Survey survey(true, true);
  survey.record.waypoint = survey.record.piclist = -1;
  std::string plain = survey.dir / "plain.jpg", text = survey.dir / "notes.txt";
  survey.run("plain.jpg", PlainJpeg());
  survey.run("notes.txt", "hello\n");
  EXPECT_EQ(survey.record.picture_number, 1); // neither counted
  survey.run("cam.jpg", MakeJpeg(CameraEntries()));
  survey.record.waypoint = survey.record.piclist = 0;
  std::vector<FixtureEntry> gps = GpsEntries(GpsFix{});
  gps.push_back(Ascii(EXIF_IFD_INTEROPERABILITY, 0x0001, "R98")); // visited after GPS
  survey.run("IMG_1.jpg", MakeJpeg(gps));
  EXPECT_EQ(survey.console.text(), "Picture " + plain + " is not a JPEG!\n"
                                   "Picture " + text + " is not a JPEG!\n"
                                   "------------------ 1. ------------------------\n"
                                   "Picture: " + survey.dir / "cam.jpg" + "\nNo geo tag found!\n"
                                   "----------------------------------------------\n"
                                   "cam.jpg - No geo tag found!\ncam.jpg - No geo tag found!\ncam.jpg - No geo tag found!\n"
                                   "------------------ 2. ------------------------\n"
                                   "Picture: " + survey.dir / "IMG_1.jpg" + "\n"
                                   "Latitude: 51, 30, 12.35 , N\nLongitude: 13, 24, 36.00 , E\n"
                                   "Altitude: 245.0\nTime: 2016:07:04 12:34:56\n"
                                   "----------------------------------------------\n"
                                   "IMG_1.jpg - lat = 51.5034 -  lon = 13.41 - alt = 0.245\n");
  EXPECT_EQ(survey.record.picture_number, 3);
  EXPECT_EQ(survey.record.geo_tag_found + survey.record.latitude_met, 0);
}

TEST(Picture, TextsAreEmptiedForEveryPictureAndCutToTheirFields) {
  Survey survey(true, false);
  // The latitude formats to far more than 49 characters.
  GpsFix fix{.lat_ref = std::string(30, 'N'), .latitude = std::vector<Rational>(20, {1, 3}), .time = std::string(300, 'T')};
  std::string out = survey.run("long.jpg", MakeJpeg(GpsEntries(fix)));
  EXPECT_EQ(strlen(survey.record.lat_ref_latest) + strlen(survey.record.latitude), 9u + 49u);
  EXPECT_NE(out.find("Time: " + std::string(49, 'T') + "\n"), std::string::npos);
  std::vector<FixtureEntry> bare = GpsEntries(GpsFix{});
  bare.erase(bare.begin() + 5, bare.end()); // no capture time, no altitude
  out = survey.run("2.jpg", MakeJpeg(bare));
  EXPECT_NE(out.find("N\nLongitude: 13, 24, 36.00 , E\nAltitude: \nTime: \n"), std::string::npos);
}

} // namespace
