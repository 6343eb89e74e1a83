// The GPX document the map host keeps, and the map host keeping it.
#include "maphost/store/gpx.h"
#include "maphost/store/gpx10.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "fixtures/fixture.h"
#include "test_support.h"

namespace {

// Every name, however broken, comes back as the valid text written.
TEST(Gpx, TextsAreValidXmlWhateverTheBytes) {
  EXPECT_EQ(XmlChars("Zürich\tx \xF4\x8F\xBF\xBF"), "Zürich\tx \xF4\x8F\xBF\xBF");
  EXPECT_EQ(XmlChars(std::string("a\x01\x7f\0", 4)), "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(XmlChars("\xFF\xC3"), "\xEF\xBF\xBD\xEF\xBF\xBD"); // not UTF-8
  EXPECT_EQ(XmlChars("\xED\xA0\x80").substr(0, 3), "\xEF\xBF\xBD"); // a surrogate
  std::vector<Position> sent(3);
  sent[0] = {false, "1.5", "-2", "a<b>&\"c\" \x01 \xFF", "", "", ""};
  sent[1] = {true, "3", "4", "p&q.jpg", "/cafe b/p&q.jpg", FileUri("/cafe b/p&q.jpg"), ""};
  sent[2] = {false, "5", "6", "", "", "", ""}; // no name element
  std::string rendered;
  ASSERT_TRUE(RenderGpx(sent, rendered));
  EXPECT_EQ(rendered.find("<name></name>"), std::string::npos);
  Store store;
  std::string why;
  ASSERT_EQ(LoadGpx(rendered, "t.gpx", store, &why), GpxLoad::Loaded);
  ASSERT_EQ(store.positions.size(), 3u);
  EXPECT_EQ(store.positions[0].name, XmlChars(sent[0].name));
  EXPECT_EQ(store.positions[1].path, "/cafe b/p&q.jpg");
  EXPECT_EQ(PathOfFileUri("file:///a%zz%2G%4a%4A%e9%4"), "/a%zz%2GJJ\xE9%4"); // whole escapes alone
  EXPECT_TRUE(!store.positions[0].picture && store.positions[1].picture && !store.positions[2].picture);
  std::string ns = "\"http://www.topografix.com/GPX/1/1\"", named = "<name xmlns=" + ns + ">p</name>";
  std::string prefixed = "<g:gpx xmlns:g=" + ns + "><g:wpt lat=\"1\" lon=\"2\">" + named + "</g:wpt></g:gpx>";
  ASSERT_EQ(LoadGpx(prefixed, "p.gpx", store, &why), GpxLoad::Loaded); // kept as it stood: a child keeps its own xmlns
  EXPECT_NE(store.positions.back().raw.find(named), std::string::npos) << store.positions.back().raw;
}

TEST(Gpx, AWriteFailureIsReportedAndTheHostGoesOn) {
  PrivatePorts ports;
  std::string keep = ports.dir / "keep", pages = ports.dir / "pages";
  mkdir(keep.c_str(), 0755);
  mkdir(pages.c_str(), 0755);
  MapHost host(ports, {"QUIET", "GPX=" + keep + "/trip.gpx", "HTML=" + pages + "/trip.html"});
  for (const std::string &gone : {pages + "/trip.html", keep + "/trip.gpx"}) { // the page, then both
    RunProcess({"/bin/rm", "-rf", gone.substr(0, gone.rfind('/'))});
    EXPECT_TRUE(SendCommand(kMapPortName, ("AddJPGPos 1 2 " + gone).c_str()));
    EXPECT_TRUE(WaitFor([&] { return ReadFileText(ports.dir / "host.err").find("cannot write " + gone) != std::string::npos; }));
    usleep(100000); // the journal keeps what the page could not
    EXPECT_TRUE(gone != pages + "/trip.html" || ReadFileText(keep + "/trip.gpx.journal").find(gone) != std::string::npos);
  }
}

// The whole round: pictures surveyed into the host, its GPX read back by GPSBabel with every coordinate as sent.
TEST(Gpx, GpsBabelReadsBackWhatWasSent) {
  PrivatePorts ports;
  std::string photos = ports.dir / "Ph\xC3\xB6tos & more", gpx = ports.dir / "trip.gpx";
  mkdir(photos.c_str(), 0755);
  GpsFix north, south;
  south.lat_ref = "S";
  south.lon_ref = "W";
  south.time = "2016:07:05 <noon>";
  WriteFile(photos + "/a 1.jpg", MakeJpeg(GpsEntries(north)));
  WriteFile(photos + "/b%2.jpg", MakeJpeg(GpsEntries(south)));
  {
    MapHost host(ports, {"GPX=" + gpx});
    for (int twice = 0; twice < 2; twice++) // the same folder again adds no pin
      EXPECT_EQ(RunProcess({PINTRAIL_BIN, photos, "WAYPOINT", "PICLIST"}, {ports.env_entry()}).code, 0);
  }
  EXPECT_EQ(RunProcess({"/usr/bin/xmllint", "--noout", gpx}).code, 0);
  ProcessResult csv = RunProcess({"/usr/bin/gpsbabel", "-i", "gpx", "-f", gpx, "-o", "unicsv", "-F", "-"});
  EXPECT_EQ(csv.code, 0) << csv.err;
  // No,Latitude,Longitude,Name,URL: the coordinates as sent, to nine digits.
  for (const char *row : {",51.503431,13.410000,\"2016:07:04 12:34:56\",",
                          ",51.503431,13.410000,\"a 1.jpg\",\"file:///",
                          ",-51.503431,-13.410000,\"2016:07:05 <noon>\",",
                          ",-51.503431,-13.410000,\"b%2.jpg\",\"file:///"})
    EXPECT_NE(csv.out.find(row), std::string::npos) << row << "\n" << csv.out;
  EXPECT_EQ(LinesOf(csv.out).size(), 5u); // a header and four waypoints
  std::string document = ReadFileText(gpx); // GPX 1.1 wants name before link
  EXPECT_NE(document.find("lat=\"-51.5034306\" lon=\"-13.41\""), std::string::npos);
  EXPECT_NE(document.find("<name>b%2.jpg</name>\n    <link href=\"file://"), std::string::npos);
  EXPECT_NE(document.find(FileUri(photos + "/b%2.jpg") + "\""), std::string::npos);
}

// An existing GPX file is continued, anything else is refused untouched.
TEST(Gpx, ExistingFilesAreContinuedOrLeftAsTheyAre) {
  PrivatePorts ports;
  std::string kept = ports.dir / "keep.gpx", notes = ports.dir / "notes.txt";
  std::string trip = "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" creator=\"x\" "
                     "xmlns=\"http://www.topografix.com/GPX/1/1\"><wpt lat=\"1\" lon=\"2\">"
                     "<ele>5</ele><name>old</name></wpt><trk><name>walk</name></trk></gpx>\n";
  ASSERT_TRUE(WriteFile(kept, trip) && WriteFile(notes, std::string(5000, 'n')));
  for (const char *refused : {"GPX=", "HTML="}) {
    ProcessResult run = RunProcess({MAPHOST_BIN, refused + notes}, {ports.env_entry()});
    EXPECT_EQ(run.code, 10);
    EXPECT_NE(run.err.find("left as it is"), std::string::npos) << run.err;
  }
  EXPECT_EQ(ReadFileText(notes), std::string(5000, 'n')); // longer than the head a page is known by
  std::string cut = trip.substr(0, trip.find("<trk>")), broken = ports.dir / "broken.gpx";
  ASSERT_TRUE(WriteFile(broken, cut)); // a GPX cut short keeps the rest of it unknown: refused
  EXPECT_EQ(RunProcess({MAPHOST_BIN, "GPX=" + broken}, {ports.env_entry()}).code, 10);
  EXPECT_EQ(ReadFileText(broken), cut);
  {
    MapHost host(ports, {"QUIET", "GPX=" + kept});
    EXPECT_EQ(SendCommand(kMapPortName, "addwaypoint 3 4 \"new\""), std::string("waypoint 1"));
  }
  std::string continued = ReadFileText(kept);
  EXPECT_NE(continued.find("<ele>5</ele><name>old</name>"), std::string::npos) << continued;
  EXPECT_NE(continued.find("<name>new</name>"), std::string::npos) << continued;
  EXPECT_NE(continued.find("<trk><name>walk</name></trk>"), std::string::npos) << continued;
  EXPECT_NE(continued.find("<gpx version=\"1.1\""), std::string::npos) << continued;
  std::string converted; // a GPX 1.0 document is one whose root is gpx
  EXPECT_FALSE(ConvertGpx10("<rte xmlns=\"http://www.topografix.com/GPX/1/0\"/>", converted));
}

// libxml2 checks attributes for duplicates in time squared: an element with more than any GPX
// needs is refused before it reads them. Those of comments and quoted values are not counted.
TEST(Gpx, AnElementWithThousandsOfAttributesIsRefusedUnread) {
  auto document = [](int attributes) {
    std::string wpt = "<wpt lat=\"1\" lon='2' a=\"x=>'\"";
    for (int i = 3; i < attributes; i++)
      wpt += " a" + std::to_string(i) + "=\"\"";
    return "<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\"><!-- " + std::string(2000, '=') + " -->" + wpt + "/></gpx>";
  };
  Store store;
  std::string why; // below, at and past the bound
  EXPECT_EQ(LoadGpx(document(1000), "most.gpx", store, &why), GpxLoad::Loaded) << why;
  EXPECT_EQ(LoadGpx(document(1001), "bomb.gpx", store, &why), GpxLoad::NotGpx);
  EXPECT_EQ(why, "bomb.gpx has an element with more than 1000 attributes");
}

// GPX 1.0 continued as 1.1: GPSBabel reads the same waypoints, routes and
// tracks from both, and what GPX 1.1 has no place for is in extensions.
TEST(Gpx, Version10IsContinuedFieldByField) {
  PrivatePorts ports;
  std::string old = ports.dir / "old.gpx", kept = ports.dir / "kept.gpx";
  WriteFile(old, "<?xml version=\"1.0\"?>\n<gpx version=\"1.0\" creator=\"c\" "
                 "xmlns=\"http://www.topografix.com/GPX/1/0\" xmlns:x=\"urn:x\"><name>Trip</name><url>http://e.org/t</url>"
                 "<author>Ann</author><email>ann@example.org</email><time>2016-07-04T10:00:00Z</time>"
                 "<bounds minlat=\"41\" minlon=\"12\" maxlat=\"42\" maxlon=\"13\"/>"
                 "<wpt lat=\"41.9\" lon=\"12.5\"><ele>21.5</ele><time>2016-07-04T10:00:00Z</time>"
                 "<course>90</course><speed>1.2</speed><name>Rome</name><desc>Forum</desc><url>http://e.org/r</url>"
                 "<urlname>R</urlname><sym>Flag</sym><x:note>mine</x:note></wpt>"
                 "<rte><name>R</name><rtept lat=\"41.8\" lon=\"12.4\"><name>A</name></rtept></rte>"
                 "<trk><name>T</name><trkseg><trkpt lat=\"41.7\" lon=\"12.3\"><ele>10</ele>"
                 "<time>2016-07-04T10:01:00Z</time></trkpt></trkseg></trk></gpx>\n");
  RunProcess({"/bin/cp", old, kept});
  {
    MapHost host(ports, {"QUIET", "GPX=" + kept});
    EXPECT_EQ(SendCommand(kMapPortName, "addwaypoint 3 4 \"new\""), std::string("waypoint 1"));
  }
  EXPECT_EQ(RunProcess({"/usr/bin/xmllint", "--noout", kept}).code, 0);
  auto rows = [](const std::string &gpx) { // every field GPSBabel reads, less the row number
    std::vector<std::string> all;
    for (const char *kind : {"-w", "-r", "-t"})
      for (const std::string &line : LinesOf(RunProcess({"/usr/bin/gpsbabel", kind, "-i", "gpx", "-f",
                                                         gpx, "-o", "unicsv", "-F", "-"}).out))
        all.push_back(kind + line.substr(line.find(',')));
    return all;
  };
  std::vector<std::string> before = rows(old), after = rows(kept);
  EXPECT_EQ(before.size(), 6u); // a header and a row for each of the three
  for (const std::string &row : before)
    EXPECT_NE(std::find(after.begin(), after.end(), row), after.end()) << row;
  std::string document = ReadFileText(kept);
  for (const char *field : {"<email id=\"ann\" domain=\"example.org\"/>", "<text>R</text>",
                            "<course xmlns=\"http://www.topografix.com/GPX/1/0\">90</course>",
                            "<speed xmlns=\"http://www.topografix.com/GPX/1/0\">1.2</speed>",
                            "<x:note xmlns:x=\"urn:x\">mine</x:note>", "<name>new</name>", "<rte>\n    <name>R</name>", "<link href=\"http://e.org/t\""})
    EXPECT_NE(document.find(field), std::string::npos) << field << "\n" << document;
}

} // namespace
