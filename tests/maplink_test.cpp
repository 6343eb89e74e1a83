// The map link end to end: the commands on the wire, against a test peer in
// this process and against the stand-in map host.
#include "maplink/commands.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "fixture.h"
#include "platform/ports.h"
#include "test_support.h"

namespace {

TEST(MapLink, CommandsAndMessageFieldsOnTheWire) {
  PrivatePorts ports;
  CapturedConsole console;
  {
    TestPeer peer(3, 0);
    SendWaypoint(51.50343055555556, -13.41, "2016:07:04 12:34:56");
    SendPicturePosition(-0.000012345, 1e7, "/photos/My Trip/IMG 1.jpg");
    EXPECT_EQ(SendCommand(kMapPortName, "other"), std::optional<std::string>("done"));
    peer.thread.join(); // it ends after its third message
    ASSERT_EQ(peer.received.size(), 3u);
    EXPECT_EQ(peer.received[0].command,
              "addwaypoint 51.5034 -13.41 \"2016:07:04 12:34:56\"");
    EXPECT_EQ(peer.received[1].command,
              "AddJPGPos -1.2345e-05 1e+07 /photos/My Trip/IMG 1.jpg");
    for (const WireMessage &m : peer.received) {
      EXPECT_EQ(m.action, 0x00020000u);
      EXPECT_EQ(m.host_name, "VANTORA.1");
      EXPECT_EQ(m.extension, "");
    }
  }
  EXPECT_EQ(console.text(), "");
}

TEST(MapLink, NonZeroReturnCodeTakesNoResult) {
  PrivatePorts ports;
  TestPeer peer(1, 10, "OTHER.1");
  EXPECT_EQ(SendCommand("OTHER.1", "anything"), std::nullopt);
  EXPECT_EQ(SendCommand(nullptr, "anything"), std::nullopt);
}

TEST(MapLink, LongPathsAreSentWhole) {
  std::string path = "/" + std::string(3000, 'p') + ".jpg";
  EXPECT_EQ(FormatPicturePosition(1, 2, path.c_str()), "AddJPGPos 1 2 " + path);
}

TEST(MapLink, NoPortMeansTheMissingPortMessage) {
  PrivatePorts ports;
  const char kMissing[] = "No ARexx Port found!\nYou must start Vantora first.\n";
  {
    CapturedConsole console;
    SendWaypoint(1, 2, "t");
    EXPECT_EQ(console.text(), kMissing);
  }
  // A host's socket in a directory open to others does not count.
  TestPeer peer(1, 0);
  chmod(ports.ports.c_str(), 0755);
  {
    CapturedConsole console;
    SendPicturePosition(1, 2, "p");
    EXPECT_EQ(console.text(), kMissing);
  }
  chmod(ports.ports.c_str(), 0700);
}

TEST(MapLink, StaleSocketFileIsNoPort) {
  PrivatePorts ports;
  { TestPeer peer(0, 0); } // its socket file is removed when it ends
  // A socket file whose host died without removing it.
  std::string why;
  auto port = CreatePublicPort(kMapPortName, &why);
  ASSERT_TRUE(port);
  close(port->listen_fd);
  port->listen_fd = -1; // leave the file behind
  EXPECT_FALSE(FindPort(kMapPortName));
  TestPeer fresh(0, 0); // a new host replaces the stale file
  EXPECT_TRUE(fresh.port);
  EXPECT_TRUE(FindPort(kMapPortName));
}

std::string gps_tree(const TempDir &dir) {
  std::string photos = dir / "Photos";
  mkdir(photos.c_str(), 0755);
  GpsFix fix;
  fix.lon_ref = "W";
  WriteFile(photos + "/My IMG.jpg", MakeJpeg(GpsEntries(fix)));
  return photos;
}

TEST(MapLink, AgainstTheMapHost) {
  PrivatePorts ports;
  std::string photos = gps_tree(ports.dir);
  std::string host_out = ports.dir / "host.out";
  pid_t host = StartProcess({MAPHOST_BIN}, {ports.env_entry()}, host_out);
  ASSERT_TRUE(WaitForFile(ports.ports + "/VANTORA.1"));
  ProcessResult run = RunProcess({PINTRAIL_BIN, photos, "waypoint", "PICLIST"},
                                 {ports.env_entry()});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "My IMG.jpg: Send geo tags to vantora...\n"
                     "My IMG.jpg: Send pic list to vantora...\n");
  EXPECT_EQ(StopProcess(host, SIGTERM), 0);
  EXPECT_EQ(ReadFileText(host_out),
            "pintrail-maphost: serving port " + ports.ports + "/VANTORA.1\n"
            "addwaypoint 51.5034 -13.41 \"2016:07:04 12:34:56\"\n"
            "AddJPGPos 51.5034 -13.41 " + photos + "/My IMG.jpg\n");
  struct stat info;
  EXPECT_NE(stat((ports.ports + "/VANTORA.1").c_str(), &info), 0); // removed

  // With no host: each announcement is followed by the missing-port message.
  run = RunProcess({PINTRAIL_BIN, photos, "WAYPOINT", "PICLIST"}, {ports.env_entry()});
  EXPECT_EQ(run.out, "My IMG.jpg: Send geo tags to vantora...\n"
                     "No ARexx Port found!\nYou must start Vantora first.\n"
                     "My IMG.jpg: Send pic list to vantora...\n"
                     "No ARexx Port found!\nYou must start Vantora first.\n");
}

TEST(MapLink, AHostThatNeverRepliesAndIsKilledEndsTheWait) {
  PrivatePorts ports;
  std::string photos = gps_tree(ports.dir);
  pid_t host = StartProcess({MAPHOST_BIN, "QUIET"}, {ports.env_entry()},
                            ports.dir / "host.out");
  ASSERT_TRUE(WaitForFile(ports.ports + "/VANTORA.1"));
  kill(host, SIGSTOP); // alive, owns the port, answers nothing
  std::string out_path = ports.dir / "run.out";
  pid_t run = StartProcess({PINTRAIL_BIN, photos, "WAYPOINT", "POSITION"},
                           {ports.env_entry()}, out_path);
  // The announcement is on standard output while the tool waits.
  std::string announced = "My IMG.jpg: Send geo tags to vantora...\n";
  for (int i = 0; i < 500 && ReadFileText(out_path).find(announced) == std::string::npos; ++i)
    usleep(10000);
  EXPECT_NE(ReadFileText(out_path).find(announced), std::string::npos);
  StopProcess(host, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(run, &status, 0), run);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadFileText(out_path),
            "My IMG.jpg - lat = 51.5034 -  lon = -13.41 - alt = 0.245\n" + announced);
}

TEST(MapLink, HostRefusesATakenPort) {
  PrivatePorts ports;
  pid_t host = StartProcess({MAPHOST_BIN}, {ports.env_entry()}, ports.dir / "host.out");
  ASSERT_TRUE(WaitForFile(ports.ports + "/VANTORA.1"));
  ProcessResult second = RunProcess({MAPHOST_BIN}, {ports.env_entry()});
  EXPECT_NE(second.code, 0);
  EXPECT_NE(second.err.find("VANTORA.1 is taken"), std::string::npos) << second.err;
  EXPECT_EQ(StopProcess(host, SIGINT), 0);
}

} // namespace
