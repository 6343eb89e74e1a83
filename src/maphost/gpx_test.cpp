// The GPX document the map host keeps, and the map host keeping it.
#include "maphost/gpx.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "fixtures/fixture.h"
#include "test_support.h"

namespace {

TEST(Gpx, TextsAreValidXmlWhateverTheBytes) {
  EXPECT_EQ(XmlText("a<b>&\"c\""), "a&lt;b&gt;&amp;&quot;c&quot;");
  EXPECT_EQ(XmlText("Zürich\tx \xF4\x8F\xBF\xBF"), "Zürich\tx \xF4\x8F\xBF\xBF");
  EXPECT_EQ(XmlText(std::string("a\x01\x7f", 3)), "a\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(XmlText("\xFF\xC3"), "\xEF\xBF\xBD\xEF\xBF\xBD");   // not UTF-8
  EXPECT_EQ(XmlText("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"); // surrogate
  EXPECT_EQ(XmlText(std::string("\0", 1)), "\xEF\xBF\xBD");
}

TEST(Gpx, AWriteFailureIsReportedAndTheHostGoesOn) {
  PrivatePorts ports;
  std::string keep = ports.dir / "keep";
  mkdir(keep.c_str(), 0755);
  MapHost host(ports, {"QUIET", "GPX=" + keep + "/trip.gpx"});
  RunProcess({"/bin/rm", "-rf", keep});
  EXPECT_EQ(SendCommand(kMapPortName, "addwaypoint 1 2 \"x\""), std::string("waypoint 1"));
  EXPECT_EQ(SendCommand(kMapPortName, "AddJPGPos 1 2 /x.jpg"), std::string("picture 1"));
  EXPECT_NE(ReadFileText(ports.dir / "host.err").find("cannot write " + keep + "/trip.gpx"),
            std::string::npos);
}

// The whole round: pictures surveyed into the host, its GPX read back by
// GPSBabel with every coordinate as sent.
TEST(Gpx, GpsBabelReadsBackWhatWasSent) {
  if (RunProcess({"/bin/sh", "-c", "command -v gpsbabel && command -v xmllint"}).code != 0)
    GTEST_SKIP() << "gpsbabel or xmllint missing (tools/setup installs them)";
  PrivatePorts ports;
  std::string photos = ports.dir / "Ph\xC3\xB6tos & more", gpx = ports.dir / "trip.gpx";
  mkdir(photos.c_str(), 0755);
  GpsFix north, south;
  south.lat_ref = "S";
  south.lon_ref = "W";
  south.time = "2016:07:05 <noon>";
  WriteFile(photos + "/a 1.jpg", MakeJpeg(GpsEntries(north)));
  WriteFile(photos + "/b%2.jpg", MakeJpeg(GpsEntries(south)));
  MapHost host(ports, {"GPX=" + gpx});
  EXPECT_EQ(RunProcess({PINTRAIL_BIN, photos, "WAYPOINT", "PICLIST"}, {ports.env_entry()}).code, 0);
  // Kept before each reply: the file is complete while the host still runs.
  EXPECT_EQ(RunProcess({"/usr/bin/xmllint", "--noout", gpx}).code, 0);
  ProcessResult csv =
      RunProcess({"/usr/bin/gpsbabel", "-i", "gpx", "-f", gpx, "-o", "unicsv", "-F", "-"});
  EXPECT_EQ(csv.code, 0) << csv.err;
  // No,Latitude,Longitude,Name,URL: the coordinates as sent ("%g").
  for (const char *row : {",51.503400,13.410000,\"2016:07:04 12:34:56\",",
                          ",51.503400,13.410000,\"a 1.jpg\",\"file:///",
                          ",-51.503400,-13.410000,\"2016:07:05 <noon>\",",
                          ",-51.503400,-13.410000,\"b%2.jpg\",\"file:///"})
    EXPECT_NE(csv.out.find(row), std::string::npos) << row << "\n" << csv.out;
  std::string document = ReadFileText(gpx); // GPX 1.1 wants name before link
  EXPECT_NE(document.find("<name>b%2.jpg</name>\n    <link href=\"file://"), std::string::npos);
  EXPECT_NE(document.find(FileUri(photos + "/b%2.jpg") + "\""), std::string::npos);
}

} // namespace
