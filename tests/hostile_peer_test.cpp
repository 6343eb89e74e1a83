// Peers that hurt the port exchange: hosts that reply garbage or nothing,
// clients that are silent, malformed, another user's, or never stop.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/stream_socket.h"
#include "test_support.h"

namespace {

TEST(HostilePeer, HostRepliesThatEndTheWaitWithNoResult) {
  const std::string big(65536, 'r');
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"", std::nullopt},                                          // accepts, then closes
      {"HTTP/1.1 200 OK\r\n\r\n", std::nullopt},                   // bad magic
      {"RXR1" + Be32(0), std::nullopt},                            // truncated
      {"RXR1" + Be32(0) + Be32(0xFFFFFFFE) + "abc", std::nullopt}, // absurd length
      {"RXR1" + Be32(0) + Be32(20) + "short", std::nullopt},       // text cut short
      {"RXR1" + Be32(0) + Be32(65536) + big, big}, };
  for (const auto &[answer, result] : cases) {
    PrivatePorts ports;
    TestPeer host(1, 0, [answer](PortMessage &message) {
      (void)!send(message.fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    });
    CapturedConsole console;
    EXPECT_EQ(SendCommand(kMapPortName, "addwaypoint 1 2 \"x\""), result) << answer;
    EXPECT_EQ(console.text(), "");
  }
  int pair[2]; // a peer gone before the message is sent: a failure at once, no wait
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  close(pair[1]);
  EXPECT_FALSE(SendAll(pair[0], "RXM1"));
  close(pair[0]);
}

// What the host answered bytes sent to path, read until it closed.
std::string raw_exchange(const std::string &path, const std::string &bytes, int *held = nullptr) {
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{AF_UNIX, {}};
  snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    close(fd);
    return "no connection";
  }
  if (held) { // left open and silent, for the caller to close
    *held = fd;
    return "";
  }
  (void)!send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  std::string got;
  char buffer[256];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    got.append(buffer, static_cast<size_t>(n));
  close(fd);
  return got;
}

TEST(HostilePeer, MapHostDropsSilentMalformedAndForeignClients) {
  PrivatePorts ports;
  MapHost host(ports);
  EXPECT_EQ(raw_exchange(ports.port_path(), "RXM1" + Be32(0x20000) + Be32(0x7FFFFFFF)), "");
  int silent = -1; // sends nothing at all
  raw_exchange(ports.port_path(), "", &silent);
  // Served once the host gives up on the silent client (10 seconds).
  EXPECT_EQ(SendCommand(kMapPortName, "addwaypoint 1 2 \"x\""), std::optional<std::string>("waypoint 1"));
  close(silent);
  if (geteuid() != 0)
    return; // connecting as another user needs root
  // The port directory keeps others out; a link to the socket outside it,
  // open to all, lets another user reach the host itself.
  TempDir open_dir;
  chmod(open_dir.path.c_str(), 0755);
  std::string door = open_dir / "door";
  ASSERT_EQ(link(ports.port_path().c_str(), door.c_str()), 0);
  chmod(door.c_str(), 0777);
  pid_t child = fork();
  if (child == 0) {
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
      _exit(2);
    _exit(raw_exchange(door, "RXM1" + Be32(0x20000) + Be32(3) + "x y" + Be32(0) + Be32(0)).empty() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "1: answered, 2: no setuid";
}

TEST(HostilePeer, UnusablePortDirectories) {
  PrivatePorts ports;
  chmod(ports.ports.c_str(), 0755);
  ProcessResult refused = RunProcess({MAPHOST_BIN}, {ports.env_entry()});
  EXPECT_NE(refused.code, 0);
  EXPECT_NE(refused.err.find("open to group or others"), std::string::npos) << refused.err;
  if (geteuid() == 0) {
    chmod(ports.ports.c_str(), 0700);
    ASSERT_EQ(chown(ports.ports.c_str(), 65534, 65534), 0);
    refused = RunProcess({MAPHOST_BIN}, {ports.env_entry()});
    EXPECT_NE(refused.err.find("belongs to another user"), std::string::npos) << refused.err;
    ASSERT_EQ(chown(ports.ports.c_str(), 0, 0), 0);
  }
  // A killed host's stale socket is taken over; a live host's port is not.
  chmod(ports.ports.c_str(), 0700);
  pid_t killed = StartProcess({MAPHOST_BIN}, {ports.env_entry()}, ports.dir / "a.out");
  ASSERT_TRUE(WaitFor([&] { return access(ports.port_path().c_str(), F_OK) == 0; }));
  StopProcess(killed, SIGKILL);
  EXPECT_FALSE(FindPort(kMapPortName));
  MapHost fresh(ports);
  refused = RunProcess({MAPHOST_BIN}, {ports.env_entry()});
  EXPECT_EQ(refused.code, 10);
  EXPECT_NE(refused.err.find("VANTORA.1 is taken"), std::string::npos) << refused.err;
}

bool closed(int fd) { return fcntl(fd, F_GETFD) == -1; }

// Descriptor 0 as a client's, an accepted and a listening socket: used, let go.
TEST(HostilePeer, DescriptorZeroIsADescriptorLikeAnyOther) {
  PrivatePorts ports;
  std::string photo = ports.dir / "p.jpg";
  WriteFile(photo, MakeJpeg(GpsEntries(GpsFix{})));
  {
    open("/dev/null", O_RDONLY); // on 0 while the host takes its listening socket
    TestPeer host(3, 0);
    close(0);
    EXPECT_EQ(SendCommand(kMapPortName, "addwaypoint 1 2 \"x\""), std::optional<std::string>("done"));
    EXPECT_TRUE(FindPort(kMapPortName) != nullptr); // a probe, let go; the host may
    EXPECT_TRUE(WaitFor([] { return closed(0); })); // hold its end on 0 a moment
    std::string why;
    EXPECT_FALSE(CreatePublicPort(kMapPortName, &why)); // its probe on 0 found the host
    EXPECT_TRUE(WaitFor([] { return closed(0); })) << why;
    // Sent from pintrail's socket on 0 (it has no standard input), accepted on 0.
    ProcessResult run = RunProcess({"/bin/sh", "-c", "exec 0<&-; exec \"$0\" \"$1\" WAYPOINT PICLIST", PINTRAIL_BIN, photo});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "p.jpg: Send geo tags to vantora...\np.jpg: Send pic list to vantora...\n");
  }
  EXPECT_TRUE(closed(0));
  {
    TestPeer host(1, 0);
    EXPECT_TRUE(host.port->listen_fd == 0 && SendCommand(kMapPortName, "x") == std::string("done"));
  }
  EXPECT_TRUE(closed(0) && access(ports.port_path().c_str(), F_OK) != 0); // removed with it
}

// No port: a path too long for a socket address, or a name that is no single file name of 1 to 100 bytes.
TEST(HostilePeer, PortPathsThatDoNotFitASocketAddress) {
  const std::string names[] = {"", ".", "..", "a/b", std::string(101, 'n'), std::string(100, 'n')};
  for (const std::string &name : names) // only the last is one
    EXPECT_EQ(ValidPortName(name.c_str()), name.size() == 100) << name;
  EXPECT_EQ(RunProcess({"/usr/bin/timeout", "10", MAPHOST_BIN, "PORT=a/b"}).err, "pintrail-maphost: invalid port name\n"); // a host's too
  TempDir dir;
  for (size_t length : {107u, 108u}) { // the port's path, and sun_path's size
    std::string ports = dir / std::string(length - dir.path.size() - 1 - sizeof kMapPortName, 'd'), why;
    mkdir(ports.c_str(), 0700);
    setenv("REXX_PORT_DIR", ports.c_str(), 1);
    std::unique_ptr<PublicPort> port = CreatePublicPort(kMapPortName, &why);
    EXPECT_EQ(port != nullptr && FindPort(kMapPortName) != nullptr, length < 108) << why;
  }
  unsetenv("REXX_PORT_DIR");
}

TEST(HostilePeer, AThousandMessagesInARow) {
  PrivatePorts ports;
  MapHost host(ports, {"QUIET", "WEB"}); // the web view keeps every position
  size_t before = 0;
  for (int i = -100; i < 1000; ++i) { // a bad command is answered with no result text
    before = i == 0 ? Descriptors(host.pid) : before;
    ASSERT_EQ(SendCommand(kMapPortName, i % 2 ? "AddJPGPos 1 2 /p.jpg" : "bad"),
              i % 2 ? std::optional<std::string>("picture " + std::to_string((i + 101) / 2)) : std::nullopt);
  }
  EXPECT_TRUE(WaitFor([&] { return Descriptors(host.pid) <= before; })); // none left open
}

} // namespace
