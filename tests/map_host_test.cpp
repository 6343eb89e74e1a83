// The map host as its owner meets it: one pin per picture however spelled,
// a console no name can drive, a browser given the address in no argument.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "maphost/exchange.h"
#include "test_support.h"

namespace {

TEST(MapHost, EverySpellingOfAFolderIsTheSamePictures) {
  PrivatePorts ports;
  std::string trip = ports.dir / "trip", gpx = ports.dir / "trip.gpx";
  mkdir(trip.c_str(), 0755);
  for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
    WriteFile(trip + "/" + name, MakeJpeg(GpsEntries(GpsFix{})));
  ASSERT_EQ(symlink(trip.c_str(), (ports.dir / "link").c_str()), 0);
  ASSERT_EQ(symlink("a.jpg", (trip + "/same-as-a.jpg").c_str()), 0); // a link is its picture
  {
    MapHost host(ports, {"GPX=" + gpx});
    const std::pair<std::string, std::string> spellings[] = {
        {ports.dir.path, "trip"}, {ports.dir.path, "trip/"}, {trip, "."},
        {ports.dir.path, "link"}, {"/", trip}, {ports.dir.path, "./trip/../trip"}};
    for (const auto &[where, folder] : spellings)
      RunProcess({"/bin/sh", "-c", "cd \"$0\" && exec \"$1\" \"$2\" PICLIST", where, PINTRAIL_BIN, folder},
                 {ports.env_entry()});
  }
  std::string out = ReadFileText(ports.dir / "host.out");
  EXPECT_NE(out.find("kept 0 waypoints and 3 pictures in " + gpx), std::string::npos) << out;
  EXPECT_NE(ReadFileText(gpx).find("file://" + trip + "/a.jpg\""), std::string::npos);
}

// Without standard input the picture decoder's channel takes descriptor 0; the files are kept, and a thumbnail made, as with one.
TEST(MapHost, StartedWithoutStandardInput) {
  PrivatePorts ports;
  std::string gpx = ports.dir / "trip.gpx";
  pid_t host = StartProcess({"/bin/sh", "-c", "exec 0<&-; exec \"$0\" \"GPX=$1\" \"HTML=$1.html\"",
                             MAPHOST_BIN, gpx}, {ports.env_entry()}, ports.dir / "host.out");
  ASSERT_TRUE(WaitFor([] { return FindPort(kMapPortName) != nullptr; }));
  EXPECT_TRUE(SendCommand(kMapPortName, "addwaypoint 1 2 \"x\""));
  ASSERT_TRUE(WriteFile(ports.dir / "p.jpg", MakeJpeg(GpsEntries(GpsFix{}), 400)));
  EXPECT_TRUE(SendCommand(kMapPortName, DeliverPicture(ports.dir / "p.jpg").c_str()));
  EXPECT_TRUE(WaitFor([&] { // written, and the journal starts over
    return ReadFileText(gpx).find("p.jpg") != std::string::npos && ReadFileText(gpx + ".journal").empty(); }));
  EXPECT_EQ(StopProcess(host, SIGTERM), 0);
  EXPECT_NE(ReadFileText(ports.dir / "host.out").find("kept 1 waypoints and 1 pictures in " + gpx), std::string::npos);
  EXPECT_NE(ReadFileText(gpx).find("<name>x</name>"), std::string::npos);
  EXPECT_EQ(ExportedNames(ReadFileText(gpx + ".html")), std::vector<std::string>({"p.jpg", "x"}));
  EXPECT_NE(ReadFileText(gpx + ".html").find("\"data:image/jpeg;base64,"), std::string::npos); // its thumbnail
  { MapHost again(ports, {"GPX=" + gpx, "HTML=" + gpx + ".html"}); } // its own page, however large, is taken again
  // A file it made is removed, as any other, when the next is refused (no page).
  EXPECT_EQ(RunProcess({"/bin/sh", "-c", "exec 0<&-; exec \"$0\" \"GPX=$1\" \"HTML=$2\"", MAPHOST_BIN,
                        gpx + ".new", ports.dir / "host.out"}, {ports.env_entry()}).code, 10);
  EXPECT_NE(access((gpx + ".new").c_str(), F_OK), 0);
}

// OPEN hands the browser (xdg-open, found as execlp finds it: "" in PATH is the current
// folder) a page only its owner can read, which forwards to the address: the token is in no process's arguments.
// With no xdg-open to be found, the host says so.
TEST(MapHost, OpenPassesTheTokenInNoArguments) {
  PrivatePorts ports;
  std::string bin = ports.dir / "bin", said = ports.dir / "xdg-open.args";
  mkdir(bin.c_str(), 0755);
  WriteFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + said + ".part\"\n"
                               "/bin/cat \"$1\" > \"" + said + ".page\"\n/bin/mv \"" + said + ".part\" \"" + said + "\"\n");
  chmod((bin + "/xdg-open").c_str(), 0755);
  WriteFile(ports.port_path() + ".html", "left by a host that was killed");
  pid_t host = StartProcess({"/bin/sh", "-c", "cd \"$1\" && exec \"$0\" OPEN", MAPHOST_BIN, bin},
                            {ports.env_entry(), "PATH=:/nowhere"}, ports.dir / "host.out", ports.dir / "host.err");
  EXPECT_TRUE(WaitFor([&] { return access(said.c_str(), F_OK) == 0; }));
  std::string out = ReadFileText(ports.dir / "host.out"), token = out.substr(out.find("token=") + 6, 64);
  EXPECT_EQ(ReadFileText(said), ports.port_path() + ".html\n"); // a page, not the address
  EXPECT_NE(ReadFileText(said + ".page").find("?token=" + token), std::string::npos);
  struct stat page {};
  EXPECT_TRUE(stat((ports.port_path() + ".html").c_str(), &page) == 0 && (page.st_mode & 0777) == 0600);
  EXPECT_EQ(StopProcess(host, SIGTERM), 0);
  EXPECT_NE(access((ports.port_path() + ".html").c_str(), F_OK), 0);
  host = StartProcess({MAPHOST_BIN, "OPEN"}, {ports.env_entry(), "PATH=/nowhere"}, ports.dir / "host.out", ports.dir / "host.err");
  EXPECT_TRUE(WaitFor([&] { return ReadFileText(ports.dir / "host.err").find("no xdg-open to open") != std::string::npos; }));
  EXPECT_EQ(StopProcess(host, SIGTERM), 0);
}

} // namespace
