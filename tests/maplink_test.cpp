// The map link end to end: the commands on the wire, to a peer in this process and to the stand-in map host.
#include "maplink/commands.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include "fixtures/fixture.h"
#include "test_support.h"

namespace {

const char kMissing[] = "No ARexx Port found!\nYou must start Vantora first.\n";

TEST(MapLink, CommandsAndMessageFieldsOnTheWire) {
  PrivatePorts ports;
  CapturedConsole console;
  { // Refused, nothing sent: no port, no reply port, one in use (on 0 here), no command.
    ReplyPort reply, in_use;
    in_use.fd = open("/dev/null", O_RDONLY);
    TestPeer peer(1, 0);
    std::unique_ptr<MsgPort> port = FindPort(kMapPortName);
    auto message = [](ReplyPort *r, const char *command) { RexxMsg m; m.mn_ReplyPort = r; m.rm_Args[0] = command; return m; };
    RexxMsg good = message(&reply, "x"), orphan = message(nullptr, "x"), busy = message(&in_use, "x"), empty = message(&reply, nullptr);
    EXPECT_FALSE(PutMsg(nullptr, &good));
    EXPECT_FALSE(PutMsg(port.get(), &orphan));
    EXPECT_FALSE(PutMsg(port.get(), &busy));
    EXPECT_FALSE(PutMsg(port.get(), &empty));
  }
  {
    TestPeer peer(3, 0);
    SendWaypoint(51.50343055555556, -13.41, "2016:07:04 12:34:56");
    SendPicturePosition(-0.000012345, 1e7, "/photos/My Trip/IMG 1.jpg");
    EXPECT_EQ(SendCommand(kMapPortName, "other"), std::optional<std::string>("done"));
    peer.thread.join(); // it ends after its third message
    ASSERT_EQ(peer.received.size(), 3u);
    // Nine significant digits: about a decimetre anywhere on Earth.
    EXPECT_EQ(peer.received[0].command, "addwaypoint 51.5034306 -13.41 \"2016:07:04 12:34:56\"");
    EXPECT_EQ(peer.received[1].command, "AddJPGPos -1.2345e-05 10000000 /photos/My Trip/IMG 1.jpg");
    for (const WireMessage &m : peer.received)
      EXPECT_EQ(EncodeMessage(m), EncodeMessage({0x00020000, m.command, "VANTORA.1", ""}));
  }
  EXPECT_EQ(console.text(), "");
  // A host's socket in a directory open to others is no port.
  TestPeer peer(1, 0);
  chmod(ports.ports.c_str(), 0755);
  SendPicturePosition(1, 2, "p");
  EXPECT_EQ(console.text(), kMissing);
}

std::string gps_tree(const TempDir &dir) {
  std::string photos = dir / "Photos";
  mkdir(photos.c_str(), 0755);
  GpsFix fix{.lon_ref = "W"};
  WriteFile(photos + "/My IMG.jpg", MakeJpeg(GpsEntries(fix)));
  return photos;
}

TEST(MapLink, AgainstTheMapHost) {
  PrivatePorts ports;
  std::string photos = gps_tree(ports.dir);
  ProcessResult run;
  {
    MapHost host(ports, {});
    run = RunProcess({PINTRAIL_BIN, photos, "waypoint", "PICLIST"}, {ports.env_entry()});
  }
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "My IMG.jpg: Send geo tags to vantora...\n" "My IMG.jpg: Send pic list to vantora...\n");
  EXPECT_EQ(ReadFileText(ports.dir / "host.out"), "pintrail-maphost: serving port " + ports.port_path() + "\n"
            "addwaypoint 51.5034306 -13.41 \"2016:07:04 12:34:56\"\n"
            "AddJPGPos 51.5034306 -13.41 " + photos + "/My IMG.jpg\n");
  EXPECT_NE(access(ports.port_path().c_str(), F_OK), 0); // removed at its end
  // With no host: each announcement is followed by the missing-port message, and the run is no success.
  run = RunProcess({PINTRAIL_BIN, photos, "WAYPOINT", "PICLIST"}, {ports.env_entry()});
  EXPECT_EQ(run.out, std::string("My IMG.jpg: Send geo tags to vantora...\n") + kMissing +
                         "My IMG.jpg: Send pic list to vantora...\n" + kMissing);
  EXPECT_EQ(run.code, 5); // said on standard error: Cli.NamesAreEscapedOnATerminal...
}

// Refused or unanswered: said on standard error with the picture's path, code 5, stdout unchanged.
TEST(MapLink, RefusedAndUnansweredCommandsEndWithCode5) {
  const std::string silent = "pintrail: %/My IMG.jpg: no answer from the map\n";
  const std::pair<std::function<void(PortMessage &)>, std::string> cases[] = {
      {[](PortMessage &m) { ReplyMsg(m, WireReply{5, std::nullopt}); },
       "pintrail: %/My IMG.jpg: the map refused the waypoint (code 5)\n"
       "pintrail: %/My IMG.jpg: the map refused the picture position (code 5)\n"},
      {[](PortMessage &) {}, silent + silent}, // closes without a reply
      {[](PortMessage &m) { (void)!send(m.fd, "HTTP/1.1 200 OK\r\n\r\n", 19, MSG_NOSIGNAL); }, silent + silent},
  };
  for (auto [answer, said] : cases) {
    PrivatePorts ports;
    std::string photos = gps_tree(ports.dir);
    for (size_t at; (at = said.find('%')) != std::string::npos;)
      said.replace(at, 1, photos);
    TestPeer peer(2, 0, answer);
    ProcessResult run = RunProcess({PINTRAIL_BIN, photos, "WAYPOINT", "PICLIST"}, {ports.env_entry()});
    EXPECT_EQ(run.code, 5);
    EXPECT_EQ(run.out, "My IMG.jpg: Send geo tags to vantora...\n" "My IMG.jpg: Send pic list to vantora...\n");
    EXPECT_EQ(run.err, said);
  }
}

// A survey right after DETACH reaches the host; a relative picture path links where the tool stood.
TEST(MapLink, ADetachedHostIsReadyAndLinksWhereTheToolStood) {
  PrivatePorts ports;
  std::string photos = gps_tree(ports.dir), gpx = ports.dir / "trip.gpx";
  ProcessResult detached = RunProcess({MAPHOST_BIN, "DETACH", "GPX=" + gpx}, {ports.env_entry()});
  ASSERT_EQ(detached.code, 0) << detached.err;
  Daemon host{atoi(detached.out.c_str())};
  ASSERT_GT(host.pid, 0);
  std::string held = RunProcess({"/bin/sh", "-c", "ls -l /proc/$0/fd | grep -c -e pipe: -e /dev/null",
                                 std::to_string(host.pid)}).out;
  EXPECT_EQ(held, "3\n"); // the console, on /dev/null; no pipe, no spare descriptor
  ProcessResult run = RunProcess({"/bin/sh", "-c", "cd / && exec \"$1\" \"${0#/}/Photos\" PICLIST", // from "/"
                                  ports.dir.path, PINTRAIL_BIN}, {ports.env_entry()});
  EXPECT_EQ(run.out, "My IMG.jpg: Send pic list to vantora...\n");
  ProcessResult taken = RunProcess({MAPHOST_BIN, "DETACH"}, {ports.env_entry()});
  EXPECT_EQ(taken.code, 10); // the port is taken: nothing runs in the background
  Daemon second{taken.code == 0 ? atoi(taken.out.c_str()) : 0}; // else one would stay, whatever the outcome
  EXPECT_NE(taken.err.find("VANTORA.1"), std::string::npos) << taken.err;
  kill(host.pid, SIGTERM);
  EXPECT_TRUE(WaitFor([&] { return kill(host.pid, 0) != 0; }));
  EXPECT_NE(ReadFileText(gpx).find("href=\"file://" + ports.dir.path + "/Photos/My%20IMG.jpg\""),
            std::string::npos) << ReadFileText(gpx);
}

// As users run them, with no REXX_PORT_DIR: the ports are in the user's runtime folder, else /tmp/rexx-ports-UID.
TEST(MapLink, WithoutAPortFolderSetBothFindTheUsersOwn) {
  TempDir dir;
  std::string photos = gps_tree(dir), runtime = "XDG_RUNTIME_DIR=" + dir.path;
  pid_t host = StartProcess({"/usr/bin/env", "-u", "REXX_PORT_DIR", runtime, MAPHOST_BIN, "QUIET"}, {}, dir / "host.out");
  EXPECT_TRUE(WaitFor([&] { return access((dir / "rexx-ports/VANTORA.1").c_str(), F_OK) == 0; }));
  ProcessResult run = RunProcess({"/usr/bin/env", "-u", "REXX_PORT_DIR", runtime, PINTRAIL_BIN, photos, "PICLIST"});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "My IMG.jpg: Send pic list to vantora...\n");
  EXPECT_EQ(StopProcess(host, SIGTERM), 0);
  if (geteuid() == 0) { // another user's, with no runtime folder either: its own under /tmp
    ProcessResult nobody = RunProcess({"/usr/bin/timeout", "1", "/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
        "--clear-groups", MAPHOST_BIN}, {"REXX_PORT_DIR=", "XDG_RUNTIME_DIR="}); // empty is unset
    EXPECT_EQ(nobody.out, "pintrail-maphost: serving port /tmp/rexx-ports-65534/VANTORA.1\n") << nobody.err;
    rmdir("/tmp/rexx-ports-65534");
  }
}

// The tool waits, its announcement shown; the host's death ends the wait, a break ends the tool.
TEST(MapLink, AHostThatNeverReplies) {
  for (int signal_to_tool : {0, SIGINT}) {
    PrivatePorts ports;
    std::string photos = gps_tree(ports.dir), out = ports.dir / "run.out";
    MapHost host(ports);
    kill(host.pid, SIGSTOP);
    pid_t run = StartProcess({PINTRAIL_BIN, photos, "POSITION", "PICLIST"}, {ports.env_entry()},
                             out, ports.dir / "run.err");
    std::string announced = "My IMG.jpg: Send pic list to vantora...\n";
    EXPECT_TRUE(WaitFor([&] { return ReadFileText(out).find(announced) != std::string::npos; }));
    kill(signal_to_tool ? run : host.pid, signal_to_tool ? signal_to_tool : SIGKILL);
    int status = 0;
    waitpid(run, &status, 0);
    kill(host.pid, SIGCONT);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == (signal_to_tool ? 20 : 5));
    EXPECT_EQ(ReadFileText(ports.dir / "run.err"),
              signal_to_tool ? "***Break\n" : "pintrail: " + photos + "/My IMG.jpg: no answer from the map\n");
    EXPECT_EQ(ReadFileText(out), "My IMG.jpg - lat = 51.5034 -  lon = -13.41 - alt = 0.245\n" + announced);
  }
}

} // namespace
