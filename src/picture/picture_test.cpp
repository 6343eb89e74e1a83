// Picture processing end to end: fixture pictures through libexif, the
// harvest and the reports.
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

std::string gps_jpeg(const GpsFix &fix) { return MakeJpeg(GpsEntries(fix)); }

TEST(Picture, VerboseBlockThenPositionLine) {
  Survey survey(true, true);
  std::string out = survey.run("IMG_1.jpg", gps_jpeg(GpsFix{}));
  std::string path = survey.dir / "IMG_1.jpg";
  EXPECT_EQ(out, "------------------ 1. ------------------------\n"
                 "Picture: " + path + "\n"
                 "Latitude: 51, 30, 12.35 , N\n"
                 "Longitude: 13, 24, 36.00 , E\n"
                 "Altitude: 245.0\n"
                 "Time: 2016:07:04 12:34:56\n"
                 "----------------------------------------------\n"
                 "IMG_1.jpg - lat = 51.5034 -  lon = 13.41 - alt = 0.245\n");
  EXPECT_EQ(survey.record.picture_number, 2);
  EXPECT_EQ(survey.record.geo_tag_found, 0);
  EXPECT_EQ(survey.record.latitude_met, 0);
}

TEST(Picture, SignsPrecisionAndOddComponents) {
  Survey survey;
  GpsFix fix;
  fix.lat_ref = "S";
  fix.lon_ref = "W";
  fix.latitude = {{51, 1}, {30, 1}, {123456, 10000}};
  EXPECT_EQ(survey.run("a.jpg", gps_jpeg(fix)),
            "a.jpg - lat = -51.5034 -  lon = -13.41 - alt = 0.245\n");
  GpsFix odd;
  odd.lat_ref = "n"; // lower case reads as positive
  odd.latitude = {{5, 1}, {0, 0}, {30, 1}};
  odd.altitude = {7, 0};
  std::string out = survey.run("b.jpg", gps_jpeg(odd));
  EXPECT_NE(out.find("b.jpg - lat = 5.00833 -  lon = 13.41 - alt = 0.007\n"),
            std::string::npos) << out;
}

TEST(Picture, NoGeoTagAndNoExif) {
  Survey survey(true, true);
  survey.record.waypoint = survey.record.piclist = -1;
  std::string plain = survey.dir / "plain.jpg", text = survey.dir / "notes.txt";
  survey.run("plain.jpg", PlainJpeg());
  survey.run("notes.txt", "hello\n");
  EXPECT_EQ(survey.record.picture_number, 1); // neither counted
  std::string out = survey.run("cam.jpg", MakeJpeg(CameraEntries()));
  EXPECT_EQ(out, "Picture " + plain + " is not a JPEG!\n"
                 "Picture " + text + " is not a JPEG!\n"
                 "------------------ 1. ------------------------\n"
                 "Picture: " + survey.dir / "cam.jpg" + "\nNo geo tag found!\n"
                 "----------------------------------------------\n"
                 "cam.jpg - No geo tag found!\ncam.jpg - No geo tag found!\n"
                 "cam.jpg - No geo tag found!\n");
  EXPECT_EQ(survey.record.picture_number, 2);
}

// The Interoperability IFD reuses tag numbers 1 and 2 and comes after GPS.
TEST(Picture, InteroperabilityTags) {
  Survey survey(true, false);
  std::vector<FixtureEntry> interop{Ascii(EXIF_IFD_INTEROPERABILITY, 0x0001, "R98"),
                                    Undefined(EXIF_IFD_INTEROPERABILITY, 0x0002, "0100")};
  std::vector<FixtureEntry> alone = CameraEntries();
  alone.insert(alone.end(), interop.begin(), interop.end());
  EXPECT_NE(survey.run("i.jpg", MakeJpeg(alone)).find("No geo tag found!"), std::string::npos);
  std::vector<FixtureEntry> after_gps = GpsEntries(GpsFix{});
  after_gps.insert(after_gps.end(), interop.begin(), interop.end());
  EXPECT_NE(survey.run("g.jpg", MakeJpeg(after_gps)).find("Latitude: 51, 30, 12.35 , N\n"),
            std::string::npos);
  EXPECT_STREQ(survey.record.lat_ref_latest, "R98");
}

TEST(Picture, LatitudeStoredBeforeItsReferenceTakesNoReference) {
  Survey survey;
  GpsFix fix;
  fix.lat_ref = "S";
  std::string jpeg = gps_jpeg(fix);
  ASSERT_TRUE(ReverseStoredIfd(jpeg, EXIF_IFD_GPS));
  EXPECT_EQ(survey.run("r.jpg", jpeg),
            "r.jpg - lat = 51.5034 -  lon = 13.41 - alt = 0.245\n");
}

TEST(Picture, TextsAreEmptiedForEveryPicture) {
  Survey survey(true, true);
  survey.run("1.jpg", gps_jpeg(GpsFix{}));
  GpsFix bare;
  bare.with_altitude = false;
  std::vector<FixtureEntry> entries = GpsEntries(bare);
  entries.pop_back(); // no capture time either
  std::string out = survey.run("2.jpg", MakeJpeg(entries));
  EXPECT_NE(out.find("------------------ 2. ----"), std::string::npos);
  EXPECT_NE(out.find("Altitude: \nTime: \n"), std::string::npos) << out;
  EXPECT_NE(out.find("2.jpg - lat = 51.5034 -  lon = 13.41 - alt = 0\n"),
            std::string::npos);
}

TEST(Picture, OverlongTextsAreCutToTheirFields) {
  Survey survey(true, false);
  GpsFix fix;
  fix.lat_ref = std::string(30, 'N');
  fix.time = std::string(300, 'T');
  // Twenty components format to far more than 49 characters.
  fix.latitude.assign(20, {1, 3});
  std::string out = survey.run("long.jpg", gps_jpeg(fix));
  EXPECT_EQ(strlen(survey.record.lat_ref_latest), 9u);
  EXPECT_EQ(strlen(survey.record.latitude), 49u);
  EXPECT_EQ(std::string(survey.record.capture_time), std::string(49, 'T'));
  EXPECT_NE(out.find("Time: " + std::string(49, 'T') + "\n"), std::string::npos);
  // The comma test reads the first 49 characters only.
  Survey late_comma;
  std::vector<FixtureEntry> entries{Ascii(EXIF_IFD_GPS, 0x0002, std::string(60, '1') + ",5")};
  EXPECT_EQ(late_comma.run("c.jpg", MakeJpeg(entries)), "c.jpg - No geo tag found!\n");
}


} // namespace
