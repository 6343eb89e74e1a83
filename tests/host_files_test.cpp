// The map host keeping its files, as a program: continued, refused, killed, read back.
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <signal.h>
#include <sys/stat.h>

#include "fixtures/fixture.h"
#include "maphost/files/gpx.h"
#include "maphost/files/gpx10.h"
#include "test_support.h"

namespace {

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
  }
  mkdir(keep.c_str(), 0755); // the store kept what the files could not take: it comes with the next ones
  mkdir(pages.c_str(), 0755);
  EXPECT_TRUE(WaitFor([&] { return ReadFileText(pages + "/trip.html").find("trip.html") != std::string::npos; }));
}

// The whole round: pictures surveyed into the host, its GPX read back by GPSBabel with every coordinate as sent.
TEST(Gpx, GpsBabelReadsBackWhatWasSent) {
  PrivatePorts ports;
  std::string photos = ports.dir / "Ph\xC3\xB6tos & more", gpx = ports.dir / "trip.gpx";
  mkdir(photos.c_str(), 0755);
  GpsFix north, south{.lat_ref = "S", .lon_ref = "W", .time = "2016:07:05 <noon>"};
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
  // No,Latitude,Longitude,Name,Date,Time,URL: the coordinates as sent, to nine digits; a
  // picture's capture time, when it is one.
  for (const char *row : {",51.503431,13.410000,\"2016:07:04 12:34:56\",,,",
                          ",51.503431,13.410000,\"a 1.jpg\",2016/07/04,12:34:56,\"file:///",
                          ",-51.503431,-13.410000,\"2016:07:05 <noon>\",,,",
                          ",-51.503431,-13.410000,\"b%2.jpg\",,,\"file:///"})
    EXPECT_NE(csv.out.find(row), std::string::npos) << row << "\n" << csv.out;
  EXPECT_EQ(LinesOf(csv.out).size(), 5u); // a header and four waypoints
  std::string document = ReadFileText(gpx); // GPX 1.1 wants name before link
  EXPECT_NE(document.find("lat=\"-51.5034306\" lon=\"-13.41\""), std::string::npos);
  EXPECT_NE(document.find("<name>b%2.jpg</name>\n    <link href=\"" + FileUri(photos + "/b%2.jpg") + "\""), std::string::npos);
}

// An existing GPX file is continued, anything else is refused untouched.
TEST(Gpx, ExistingFilesAreContinuedOrLeftAsTheyAre) {
  PrivatePorts ports;
  std::string kept = ports.dir / "keep.gpx", notes = ports.dir / "notes.txt";
  std::string trip = "<?xml version=\"1.0\"?>\n<!-- mine --><gpx version=\"1.1\" creator=\"x\" "
                     "xmlns=\"http://www.topografix.com/GPX/1/1\"><metadata><name>m</name></metadata><wpt lat=\"1\" lon=\"2\">"
                     "<ele>5</ele><name>old</name></wpt><trk><name>walk</name></trk></gpx>\n";
  ASSERT_TRUE(WriteFile(kept, trip) && WriteFile(notes, std::string(5000, 'n')));
  std::string kml = ports.dir / "places.kml"; // well-formed, but no GPX
  ASSERT_TRUE(WriteFile(kml, "<?xml version=\"1.0\"?><kml><Placemark/></kml>"));
  EXPECT_EQ(RunProcess({MAPHOST_BIN, "GPX=" + kml}, {ports.env_entry()}).code, 10);
  EXPECT_EQ(ReadFileText(kml), "<?xml version=\"1.0\"?><kml><Placemark/></kml>");
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
  size_t old = continued.find("<ele>5</ele><name>old</name>"); // then the new one, then the track
  EXPECT_NE(continued.find("<trk><name>walk</name></trk>", continued.find("<name>new</name>", old)), std::string::npos) << continued;
  EXPECT_LT(continued.find("<metadata><name>m</name></metadata>", continued.find("<gpx version=\"1.1\"")), continued.find("<wpt")) << continued;
  ASSERT_TRUE(WriteFile(kept, "<?xml version=\"1.0\"?><kml/>")); // refused: its store stays beside it
  EXPECT_EQ(RunProcess({MAPHOST_BIN, "GPX=" + kept}, {ports.env_entry()}).code, 10);
  EXPECT_EQ(access((kept + ".db").c_str(), F_OK), 0);
  std::string converted; // a GPX 1.0 document is one whose root is gpx
  EXPECT_FALSE(ConvertGpx10("<rte xmlns=\"http://www.topografix.com/GPX/1/0\"/>", converted));
  ASSERT_TRUE(ConvertGpx10("<gpx xmlns=\"http://www.topografix.com/GPX/1/0\"><email>a@b.org</email></gpx>", converted));
  EXPECT_NE(converted.find("<author>\n      <email id=\"a\" domain=\"b.org\"/>"), std::string::npos) << converted;
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
                 "<rte><!-- r --><name>R</name><rtept lat=\"41.8\" lon=\"12.4\"><name>A</name></rtept></rte>"
                 "<trk><name>T</name><trkseg><trkpt lat=\"41.7\" lon=\"12.3\"><ele>10</ele>"
                 "<time>2016-07-04T10:01:00Z</time></trkpt></trkseg></trk><x:tag>root</x:tag></gpx>\n");
  RunProcess({"/bin/cp", old, kept});
  {
    MapHost host(ports, {"QUIET", "GPX=" + kept});
    EXPECT_EQ(SendCommand(kMapPortName, "addwaypoint 3 4 \"new\""), std::string("waypoint 1"));
  }
  EXPECT_EQ(RunProcess({"/usr/bin/xmllint", "--noout", kept}).code, 0);
  EXPECT_EQ(ReadFileText(ports.dir / "host.out"), ""); // read in without a word when QUIET
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
  for (const char *field : {"<author>\n      <name>Ann</name>", "<email id=\"ann\" domain=\"example.org\"/>", "<text>R</text>",
                            "<course xmlns=\"http://www.topografix.com/GPX/1/0\">90</course>",
                            "<speed xmlns=\"http://www.topografix.com/GPX/1/0\">1.2</speed>",
                            "<x:note xmlns:x=\"urn:x\">mine</x:note>", "<x:tag xmlns:x=\"urn:x\">root</x:tag>", "<name>new</name>", "<rte>\n    <name>R</name>\n    <rtept", "<link href=\"http://e.org/t\""})
    EXPECT_NE(document.find(field), std::string::npos) << field << "\n" << document;
}

// The store is read from the GPX document once, and again only when someone else changed it.
TEST(Store, AGpxChangedWhileNoHostRanIsReadInAgain) {
  PrivatePorts ports;
  std::string gpx = ports.dir / "trip.gpx", out = ports.dir / "host.out";
  auto keep = [&](const char *command) {
    MapHost host(ports, {"GPX=" + gpx});
    EXPECT_TRUE(SendCommand(kMapPortName, command));
  };
  keep("addwaypoint 1 2 \"sent\"");
  struct stat store;
  EXPECT_TRUE(stat((gpx + ".db").c_str(), &store) == 0 && (store.st_mode & 0777) == 0600);
  { // the file follows the store while the host runs, once it stands still
    MapHost host(ports, {"GPX=" + gpx});
    for (const char *name : {"again", "twice", "thrice"}) {
      EXPECT_TRUE(SendCommand(kMapPortName, ("addwaypoint 3 4 \"" + std::string(name) + "\"").c_str()));
      EXPECT_TRUE(WaitFor([&] { return ReadFileText(gpx).find(name) != std::string::npos; })) << name;
    }
  }
  EXPECT_EQ(ReadFileText(out).find("reading"), std::string::npos) << ReadFileText(out);
  std::string edited = ReadFileText(gpx);
  edited.replace(edited.find("sent"), 4, "hand");
  ASSERT_TRUE(WriteFile(gpx, edited));
  keep("addwaypoint 5 6 \"after\"");
  EXPECT_NE(ReadFileText(out).find("reading " + gpx), std::string::npos) << ReadFileText(out);
  std::string document = ReadFileText(gpx);
  for (const char *name : {"hand", "again", "thrice", "after"})
    EXPECT_NE(document.find(std::string("<name>") + name), std::string::npos) << name << "\n" << document;
  EXPECT_EQ(document.find("sent"), std::string::npos) << document;
  unlink((gpx + ".db").c_str()); // a link planted in its place is refused
  symlink((ports.dir / "elsewhere").c_str(), (gpx + ".db").c_str());
  EXPECT_EQ(RunProcess({MAPHOST_BIN, "GPX=" + gpx}, {ports.env_entry()}).code, 10);
  EXPECT_NE(access((ports.dir / "elsewhere").c_str(), F_OK), 0);
  unlink((gpx + ".db").c_str()); // and so is a file that is no store, then a log linked in beside one
  ASSERT_TRUE(WriteFile(gpx + ".db", std::string(8192, 'x')));
  for (const char *refusal : {"is not a store of this host", ".db-wal is not this user's store", "-wal is not"}) {
    ProcessResult planted = RunProcess({MAPHOST_BIN, "GPX=" + gpx}, {ports.env_entry()});
    EXPECT_NE(planted.err.find(refusal), std::string::npos) << planted.err;
    if (unlink((gpx + ".db-wal").c_str()) != 0 || link((ports.dir / "host.out").c_str(), (gpx + ".db-wal").c_str()) != 0)
      symlink((ports.dir / "elsewhere").c_str(), (gpx + ".db-wal").c_str()); // a link elsewhere, then a file's second name
  }
  EXPECT_EQ(ReadFileText(gpx + ".db"), std::string(8192, 'x'));
}

// Killed with SIGKILL at random moments and started again: every position answered 0 is in both files.
TEST(Journal, AHostKilledAtAnyMomentKeepsEveryAcknowledgedPosition) {
  PrivatePorts ports;
  std::string gpx = ports.dir / "trip.gpx", html = ports.dir / "trip.html";
  std::vector<std::string> words{"QUIET", "GPX=" + gpx, "HTML=" + html}; // its journal, beside the GPX file
  std::mt19937 random(11);
  std::vector<int> acknowledged;
  int sent = 0;
  for (int trial = 0; trial < 6; trial++) {
    MapHost host(ports, words);
    EXPECT_EQ(ReadFileText(gpx + ".journal"), ""); // what it replayed is stored: the journal starts over
    int burst = 200 + static_cast<int>(random() % 600);
    for (int i = 0; i < burst; i++, sent++) {
      std::string command = "AddJPGPos " + std::to_string(sent % 80) + ".5 2 /crash/" + std::to_string(sent) + ".jpg";
      if (SendCommand(kMapPortName, command.c_str()))
        acknowledged.push_back(sent);
    }
    usleep(static_cast<useconds_t>(random() % 1500000)); // before, during or after a write
    EXPECT_EQ(StopProcess(host.pid, SIGKILL), 128 + SIGKILL);
    host.pid = -1;
  }
  { MapHost last(ports, {"QUIET", "GPX=" + gpx, "HTML=" + html}); } // replays, writes both, ends
  std::string kept = ReadFileText(gpx);
  std::vector<std::string> listed = ExportedNames(ReadFileText(html));
  std::set<std::string> shown(listed.begin(), listed.end());
  EXPECT_EQ(static_cast<int>(acknowledged.size()), sent);
  int lost = 0;
  for (int n : acknowledged) {
    std::string name = std::to_string(n) + ".jpg"; // the page names its folder apart
    lost += kept.find("file:///crash/" + name + "\"") == std::string::npos || !shown.count(name);
  }
  EXPECT_EQ(lost, 0) << "of " << acknowledged.size();
  EXPECT_NE(access((gpx + ".journal").c_str(), F_OK), 0); // a clean end leaves none
}

// While a survey goes on, the store is committed seldom: what it sent first is still journalled 1.5 s on.
TEST(Journal, AStoreIsNotCommittedWhileASurveyGoesOn) {
  PrivatePorts ports;
  std::string gpx = ports.dir / "t.gpx", many = "<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\">";
  for (int i = 0; i < 10000; i++) // more than it is sent: no file is written for a library grown twice
    many += "<wpt lat=\"1\" lon=\"2\"><name>old</name></wpt>";
  ASSERT_TRUE(WriteFile(gpx, many + "</gpx>"));
  MapHost host(ports, {"QUIET", "GPX=" + gpx});
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; std::chrono::steady_clock::now() - start < std::chrono::milliseconds(1500); i++, usleep(2000))
    ASSERT_TRUE(SendCommand(kMapPortName, ("addwaypoint 1 2 \"w" + std::to_string(i) + "\"").c_str()));
  EXPECT_NE(ReadFileText(gpx + ".journal").find("w0"), std::string::npos);
}

// Refused, through any spelling, with the holder's process id; so is a document type.
TEST(KeptFile, OneHostPerFileThroughAnySpelling) {
  PrivatePorts ports;
  std::string gpx = ports.dir / "trip.gpx";
  MapHost host(ports, {"GPX=" + gpx});
  ASSERT_TRUE(WaitFor([&] { return ReadFileText(ports.dir / "host.out").find("serving") != std::string::npos; }));
  std::string link = ports.dir / "link.gpx", hard = ports.dir / "hard.gpx";
  ASSERT_EQ(symlink(gpx.c_str(), link.c_str()), 0);
  ASSERT_EQ(::link(gpx.c_str(), hard.c_str()), 0);
  PrivatePorts other; // a host of its own port
  for (const std::string &name : {std::string("trip.gpx"), link, hard}) {
    ProcessResult second = RunProcess({"/bin/sh", "-c", "cd \"$0\" && exec \"$1\" QUIET \"GPX=$2\"",
                                       ports.dir.path, MAPHOST_BIN, name}, {other.env_entry()});
    EXPECT_EQ(second.code, 10) << name;
    EXPECT_NE(second.err.find("kept by another host (process " + std::to_string(host.pid) + ")"),
              std::string::npos) << second.err;
  }
  std::string typed = other.dir / "typed.gpx";
  std::string document = "<?xml version=\"1.0\"?>\n<!DOCTYPE gpx [<!ENTITY place \"Rome\">]>\n"
                         "<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\">"
                         "<wpt lat=\"1\" lon=\"2\"><name>&place;</name></wpt></gpx>\n";
  ASSERT_TRUE(WriteFile(typed, document));
  ProcessResult entities = RunProcess({MAPHOST_BIN, "GPX=" + typed}, {other.env_entry()});
  EXPECT_EQ(entities.code, 10);
  EXPECT_EQ(ReadFileText(typed), document);
}

} // namespace
