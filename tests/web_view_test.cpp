// The web view asked with a plain HTTP client: what it refuses, and live
// clients, even one that never reads, that never slow the port exchange.
#include <gtest/gtest.h>
#include <optional>

#include <arpa/inet.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fixtures/formats.h"
#include "maphost/thumbnails/raster.h"
#include "maphost/thumbnails/shown.h"
#include "maphost/web/thumbnail.h"
#include "platform/loopback.h"
#include "test_support.h"

namespace {

struct WebHost {
  PrivatePorts ports;
  MapHost host;
  int port = 0;
  std::string token;
  explicit WebHost(std::vector<std::string> words = {}) : host(ports, (words.insert(words.end(), {"QUIET", "WEBPORT=0"}), words)) {
    std::string out;
    EXPECT_TRUE(WaitFor([&] { return (out = ReadFileText(ports.dir / "host.out")).find('\n') != std::string::npos; }));
    size_t colon = out.find("127.0.0.1:"), equals = out.find("token=");
    port = atoi(out.c_str() + colon + 10);
    token = out.substr(equals + 6, 64);
  }
  // A connection that sent request; -1 when none could be made.
  int ask(const std::string &request) const {
    int fd = ConnectLoopback(port);
    if (fd >= 0 && write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
      close(fd), fd = -1;
    return fd;
  }
  // The whole response to a request of target with these header lines.
  std::string get(const std::string &target, const std::string &headers, const char *method = "GET") const {
    int fd = ask(method + (" " + target) + " HTTP/1.1\r\n" + headers + "Connection: close\r\n\r\n");
    timeval patience{10, 0}; // no answer is a failure, never a hang
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    std::string response;
    char buffer[4096];
    for (ssize_t got; fd >= 0 && (got = read(fd, buffer, sizeof buffer)) > 0;)
      response.append(buffer, static_cast<size_t>(got));
    close(fd);
    return response;
  }
  std::string host_line() const { return "Host: 127.0.0.1:" + std::to_string(port) + "\r\n"; }
  // What a live stream says up to the end of its next batch.
  static std::string next_batch(int fd, std::string got = "") {
    char buffer[65536];
    for (ssize_t n; got.find("}\n\n") == std::string::npos && (n = read(fd, buffer, sizeof buffer)) > 0;)
      got.append(buffer, static_cast<size_t>(n));
    return got;
  }
};

TEST(WebView, ServesOnlyTheTokenHolderOnLoopbackNamesAndOnlyItsOwnFiles) {
  WebHost web;
  ASSERT_NE(web.port, 0);
  std::string photo = web.ports.dir / "p.jpg", fifo = web.ports.dir / "f.jpg";
  WriteFile(photo, MakeJpeg(GpsEntries(GpsFix{}), 400));
  WriteFile(fifo, MakeJpeg(GpsEntries(GpsFix{}), 400));
  SendCommand(kMapPortName, "addwaypoint 1 2 \"w\""); // position 0, then pictures 1 and 2
  for (const std::string &path : {photo, fifo})
    SendCommand(kMapPortName, DeliverPicture(path).c_str());
  unlink(fifo.c_str());
  mkfifo(fifo.c_str(), 0600); // no longer a regular file: never opened to block
  std::string token = "?token=" + web.token, cookie = "Cookie: pintrail_" + std::to_string(web.port) + "=" + web.token + "\r\n";
  const struct { std::string target, headers; const char *status; } cases[] = {
      {"/" + token, web.host_line(), "200"}, {"/", web.host_line(), "403"},
      {"/?token=" + std::string(1, web.token[0] ^ 1) + web.token.substr(1), web.host_line(), "403"}, {"/" + token.substr(0, 20), web.host_line(), "403"},
      {"/" + token, "Host: attacker.example:" + std::to_string(web.port) + "\r\n", "403"},
      {"/" + token, "", "403"}, {"/assets/app.js" + token, web.host_line(), "200"},
      {"/assets/app.js", web.host_line() + cookie, "403"}, // no cookie carries the token
      {"/assets/../../../etc/passwd" + token, web.host_line(), "404"},
      {"/etc/passwd" + token, web.host_line(), "404"}, {"/thumb/1" + token, web.host_line(), "200"},
      {"/picture/000000001" + token, web.host_line(), "200"}, {"/facts/1" + token, web.host_line(), "200"},
      {"/picture/2" + token, web.host_line(), "404"}, {"/thumb/2" + token, web.host_line(), "404"}, // now a FIFO
      {"/thumb/0" + token, web.host_line(), "404"}, // no picture
      {"/thumb/3" + token, web.host_line(), "404"}, // out of range
      {"/thumb/-1" + token, web.host_line(), "404"}, {"/thumb/1x" + token, web.host_line(), "404"},
      {"/thumb/99999999999999999999" + token, web.host_line(), "404"}, };
  for (const auto &c : cases) {
    std::string response = web.get(c.target, c.headers);
    EXPECT_EQ(response.substr(9, 3), c.status) << c.target << "\n" << c.headers << response.substr(0, 200);
    EXPECT_NE(response.find("X-Content-Type-Options: nosniff\r\nReferrer-Policy: no-referrer\r\nCache-Control: no-store"),
              std::string::npos) << c.target;
    EXPECT_NE(response.find("Content-Security-Policy: default-src 'none'; script-src 'self';"), std::string::npos);
  }
  EXPECT_EQ(web.get("/" + token, web.host_line(), "POST").substr(9, 3), "405");
  EXPECT_EQ(web.get("/" + token, web.host_line(), "HEAD").substr(9, 3), "200");
  for (std::string port : {"-1", "65536", "65535"}) // out of range; in range, refused for the port this host has
    EXPECT_EQ(RunProcess({MAPHOST_BIN, "WEBPORT=" + port}, {web.ports.env_entry()}).err.ends_with("0 to 65535\n"), port != "65535");
  PrivatePorts other; // a web port another program holds on 127.0.0.1 is refused
  EXPECT_NE(RunProcess({MAPHOST_BIN, "WEBPORT=" + std::to_string(web.port)}, {other.env_entry()}).err.find("on 127.0.0.1 port"), std::string::npos);
  EXPECT_NE(web.get("/facts/1" + token, web.host_line()).find("\r\n\r\n{\"altitude\":245.0,\"from\":\"original\",\"time\":\"2016:07:04 12:34:56\"}"),
            std::string::npos);
  // The owner's requests keep their connection, a missing picture too; no one else's do.
  std::string next = "\r\nGET /thumb/0" + token + " HTTP/1.1\r\n" + web.host_line() + "\r\nGET /facts/1" + token + " HTTP/1.1\r\n";
  std::string kept = web.get("/" + token, web.host_line() + next + web.host_line());
  size_t first = kept.find("HTTP/1.1 200"), missing = kept.find("HTTP/1.1 404", first);
  EXPECT_NE(kept.find("HTTP/1.1 200", missing), std::string::npos) << kept;
  EXPECT_EQ(web.get("/", web.host_line() + next + web.host_line()).find("HTTP/1.1 404"), std::string::npos);
  std::string page = web.get("/" + token, web.host_line());
  EXPECT_EQ(page.find("Set-Cookie"), std::string::npos);
  EXPECT_NE(page.find("assets/app.js" + token), std::string::npos);
}

// Served and exported: a picture as the survey delivered it, not a link or file swapped in since, nor one a GPX names elsewhere.
TEST(WebView, OnlyTheFilesTheSurveyDeliveredAreServedOrExported) {
  TempDir dir;
  std::string secret = dir / "secret.jpg", evil = dir / "evil.jpg", kept = dir / "kept.jpg", moved = dir / "moved.jpg";
  std::string hidden = WrapJpeg(ExifBlock(CameraEntries()), 64, 32), shown = MakeJpeg(GpsEntries(GpsFix{}));
  ASSERT_TRUE(WriteFile(secret, hidden) && WriteFile(kept, shown) && WriteFile(moved, shown));
  ASSERT_EQ(symlink(secret.c_str(), evil.c_str()), 0); // swapped for a link after the survey read it
  std::string gpx = dir / "trip.gpx", html = dir / "trip.html", wpt = "<wpt lat=\"51.5034306\" lon=\"13.41\"><link href=\"file://";
  ASSERT_TRUE(WriteFile(gpx, "<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\">" + wpt + secret +
                                 "\"/></wpt>" + wpt + kept + "\"/></wpt></gpx>"));
  {
    WebHost web({"GPX=" + gpx, "HTML=" + html});
    SendCommand(kMapPortName, DeliverPicture(evil).c_str());  // position 0 again: secret.jpg
    SendCommand(kMapPortName, DeliverPicture(moved).c_str()); // 2, then replaced
    ASSERT_TRUE(WriteFile(dir / "new", shown) && rename((dir / "new").c_str(), moved.c_str()) == 0);
    std::string token = "?token=" + web.token;
    for (const char *target : {"/thumb/0", "/picture/0", "/facts/0", "/thumb/2", "/picture/2"})
      EXPECT_EQ(web.get(target + token, web.host_line()).substr(9, 3), "404") << target;
    EXPECT_EQ(web.get("/thumb/1" + token, web.host_line()).substr(9, 3), "200");
  }
  EXPECT_EQ(ReadFileText(html).find(JpegDataUri(MakeThumbnail(hidden))), std::string::npos);
  EXPECT_NE(ReadFileText(html).find(JpegDataUri(MakeThumbnail(shown))), std::string::npos);
}

// A bookmark outlives a restart on the same store: its token, and its port while that is free.
TEST(WebView, TheAddressIsKeptBesideTheStore) {
  TempDir dir;
  std::string gpx = "GPX=" + (dir / "t.gpx");
  WriteFile(dir / "t.gpx.web", "8080 " + std::string(64, 'g') + "\n"); // a token of other digits is none to keep
  std::optional<WebHost> web(std::in_place, std::vector{gpx});
  int port = web->port, squatter = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::string token = web->token;
  EXPECT_NE(token, std::string(64, 'g'));
  web.emplace(std::vector{gpx});
  EXPECT_EQ(std::pair(web->port, web->token), std::pair(port, token));
  web.reset(); // the port taken meanwhile: another, the same token
  sockaddr_in address = LoopbackAddress(port);
  ASSERT_EQ(bind(squatter, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  web.emplace(std::vector{gpx});
  EXPECT_NE(web->port, port);
  EXPECT_EQ(ReadFileText(dir / "t.gpx.web"), std::to_string(web->port) + " " + token + "\n");
  close(squatter);
}

// Bombs as pictures: no thumbnail, none of the host's memory, no hold on other thumbnails or the host's end.
TEST(WebView, PictureBombsCostTheHostNothing) {
  TempDir dir;
  std::string html = dir / "map.html", good = dir / "good.jpg", exif = MakeJpeg(GpsEntries(GpsFix{}));
  std::string bomb = MakeProgressiveBomb(exif.substr(2, 2 + BigEndianAt(exif, 4, 2))); // its APP1
  ASSERT_TRUE(WriteFile(good, exif));
  WebHost web({"HTML=" + html});
  for (int i = 0; i < 20; i++) {
    ASSERT_TRUE(WriteFile(dir / std::to_string(i), bomb));
    SendCommand(kMapPortName, DeliverPicture(dir / std::to_string(i)).c_str());
  }
  SendCommand(kMapPortName, DeliverPicture(good).c_str());
  EXPECT_EQ(web.get("/thumb/0?token=" + web.token, web.host_line()).substr(9, 3), "404");
  EXPECT_EQ(web.get("/thumb/20?token=" + web.token, web.host_line()).substr(9, 3), "200");
  std::string status = ReadFileText("/proc/" + std::to_string(web.host.pid) + "/status");
  EXPECT_LT(atol(status.c_str() + status.find("VmHWM:") + 6), 256 << 10) << "KiB at the peak";
  EXPECT_EQ(StopProcess(web.host.pid, SIGTERM), 0);
  web.host.pid = -1;
  EXPECT_NE(ReadFileText(html).find(JpegDataUri(MakeThumbnail(exif))), std::string::npos);
}

// Whoever holds the port on ::1 would get "localhost" and the token: the host refuses to start.
TEST(WebView, APortSquattedOnIpv6LoopbackIsRefused) {
  int squatter = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 address{AF_INET6, 0, 0, in6addr_loopback, 0};
  socklen_t size = sizeof address;
  if (bind(squatter, reinterpret_cast<sockaddr *>(&address), size) != 0 || listen(squatter, 1) != 0 ||
      getsockname(squatter, reinterpret_cast<sockaddr *>(&address), &size) != 0)
    GTEST_SKIP() << "no IPv6 loopback here";
  std::string port = std::to_string(ntohs(address.sin6_port));
  PrivatePorts ports;
  ProcessResult run = RunProcess({MAPHOST_BIN, "WEBPORT=" + port}, {ports.env_entry()});
  close(squatter);
  EXPECT_EQ(run.err, "pintrail-maphost: cannot serve the web view on ::1 port " + port + ": another program holds it\n");
  EXPECT_EQ(run.code, 10);
}

// Too many connections without the token: the oldest are closed at once, the newest keep their few seconds.
TEST(WebView, TheOldestOfTooManyTokenlessConnectionsAreClosedFirst) {
  WebHost web;
  std::vector<int> waiting;
  for (int i = 0; i < 100; i++)
    ASSERT_GE(waiting.emplace_back(web.ask("GET /?tok")), 0);
  char byte; // a loaded machine may be slow to take them all in: then a late one drops the oldest
  auto asked = std::chrono::steady_clock::now();
  EXPECT_TRUE(WaitFor([&] { return recv(waiting.front(), &byte, 1, MSG_DONTWAIT) == 0; }, 20));
  EXPECT_TRUE(recv(waiting.back(), &byte, 1, MSG_DONTWAIT) == -1 || std::chrono::steady_clock::now() > asked + std::chrono::seconds(4)); // the newest stays, unless its own 5 s may be up
  for (int fd : waiting)
    close(fd);
}

// Another user's thousand connections, trickling requests, lock out nobody.
TEST(WebView, AFloodOfSlowConnectionsLocksNobodyOut) {
  if (geteuid() != 0)
    GTEST_SKIP() << "flooding as another user needs root";
  WebHost web;
  std::string photo = web.ports.dir / "p.jpg";
  WriteFile(photo, MakeJpeg(GpsEntries(GpsFix{}), 400));
  SendCommand(kMapPortName, DeliverPicture(photo).c_str());
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t flood = fork(); // another user, who keeps a thousand connections busy
  if (flood == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    rlimit files{4096, 4096};
    if (setrlimit(RLIMIT_NOFILE, &files) != 0 || setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0)
      _exit(2);
    std::vector<int> slow(1000, -1);
    for (int second = 0; second < 9; second++, sleep(1)) {
      for (int &fd : slow)
        if (fd < 0 || send(fd, "G", 1, MSG_NOSIGNAL | MSG_DONTWAIT) != 1) {
          close(fd);
          fd = web.ask("G"); // dropped: back again
        }
      if (second == 0)
        (void)!write(ready[1], "r", 1);
    }
    _exit(0);
  }
  close(ready[1]);
  char byte, buffer[65536];
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  int silent = web.ask("GET /?tok"); // never shows the token: closed within seconds
  int stream = web.ask("GET /events?token=" + web.token + " HTTP/1.1\r\n" + web.host_line() + "\r\n");
  for (int round = 0; round < 3; round++, sleep(2)) { // before, while and after they are dropped
    EXPECT_EQ(web.get("/?token=" + web.token, web.host_line()).substr(9, 3), "200") << round;
    EXPECT_EQ(web.get("/thumb/0?token=" + web.token, web.host_line()).substr(9, 3), "200") << round;
  }
  EXPECT_TRUE(WaitFor([&] { return recv(silent, &byte, 1, MSG_DONTWAIT) == 0; }));
  ssize_t got = 1;
  while (got > 0)
    got = recv(stream, buffer, sizeof buffer, MSG_DONTWAIT);
  EXPECT_TRUE(got < 0 && errno == EAGAIN) << "the owner's live stream was closed";
  close(silent);
  close(stream);
  kill(flood, SIGKILL);
  waitpid(flood, nullptr, 0);
  close(ready[0]);
}

// Closed at once when refused, five seconds after saying nothing; meanwhile the host costs no processor time.
TEST(WebView, ConnectionsWithoutTheTokenAreClosedAndAnIdleHostCostsNothing) {
  WebHost web;
  auto closed_within = [](int fd, int seconds) {
    timeval patience{seconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    char buffer[4096];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
    }
    close(fd);
    return got == 0;
  };
  auto processor_ticks = [&] {
    std::string stat = ReadFileText("/proc/" + std::to_string(web.host.pid) + "/stat");
    long utime = 0, stime = 0;
    sscanf(stat.c_str() + stat.rfind(')') + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %ld %ld", &utime, &stime);
    return utime + stime;
  };
  long before = processor_ticks();
  EXPECT_TRUE(closed_within(web.ask("GET / HTTP/1.1\r\n" + web.host_line() + "\r\n"), 3)); // kept alive, asked for
  EXPECT_TRUE(closed_within(web.ask(""), 8));
  EXPECT_LT(processor_ticks() - before, 50) << "ticks of processor time over five seconds";
}

TEST(WebView, LiveClientsNeverSlowThePortExchange) {
  WebHost web;
  std::string events = "GET /events?token=" + web.token + " HTTP/1.1\r\n" + web.host_line() + "\r\n";
  std::vector<int> readers;
  for (int i = 0; i < 50; i++)
    readers.push_back(web.ask(events));
  int stalled = web.ask(events); // never reads a byte
  std::atomic<bool> done{false};
  std::thread reading([&] { // the fifty read what comes
    char buffer[65536];
    while (!done)
      for (int fd : readers)
        while (recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
  });
  for (int i = 1; i <= 3000; i++) {
    std::string command = "AddJPGPos 1 2 /a/very/long/path/to/a/picture/" + std::to_string(i) + ".jpg";
    ASSERT_EQ(SendCommand(kMapPortName, command.c_str()), std::optional<std::string>("picture " + std::to_string(i)));
  }
  done = true;
  reading.join();
  for (int fd : readers)
    close(fd);
  close(stalled);
  // A page that comes back hears at once what the host holds, then each change in a chunk of its own.
  int back = web.ask(events);
  std::string got = WebHost::next_batch(back);
  EXPECT_NE(got.find(",\"e\":3000}\n\n", got.find("data: {\"n\":[3000,1,0],\"b\":[1.0")), std::string::npos) << got;
  SendCommand(kMapPortName, "AddJPGPos 1 2 /the/next.jpg");
  got = WebHost::next_batch(back);
  size_t data = got.find("\r\ndata: {\"n\":[3001,1,0],"), line = got.rfind('\n', data - 1) + 1;
  ASSERT_NE(data, std::string::npos) << got;
  EXPECT_EQ(got.substr(line, data - line).find_first_not_of("0123456789abcdefABCDEF"), std::string::npos) << got; // a chunk of its own
  EXPECT_TRUE(got.find("\r\n1\r\n") == std::string::npos && got.size() < 200) << got; // no stray byte nor keep-alives in a row
  close(back);
  EXPECT_EQ(StopProcess(web.host.pid, SIGTERM), 0); // a stalled stream does not hold up the end
  web.host.pid = -1;
}

// A thumbnail once made is served again as it was, even after its picture changed.
TEST(WebView, AThumbnailMadeOnceIsServedFromMemory) {
  WebHost web;
  std::string photo = web.ports.dir / "noise.jpg";
  Raster noise{64, 64, std::vector<uint8_t>(64 * 64 * 3)};
  std::generate(noise.rgb.begin(), noise.rgb.end(), std::mt19937(7));
  std::string noisy = EncodeJpeg(noise, 100), gps = MakeJpeg(GpsEntries(GpsFix{}));
  WriteFile(photo, noisy.substr(0, 2) + gps.substr(2, 2 + BigEndianAt(gps, 4, 2)) + noisy.substr(2)); // its APP1 added
  SendCommand(kMapPortName, DeliverPicture(photo).c_str());
  auto thumb = [&] {
    std::string response = web.get("/thumb/0?token=" + web.token, web.host_line());
    return response.substr(response.find("\r\n\r\n") + 4);
  };
  std::string old = thumb();
  WriteFile(photo, MakeJpeg(GpsEntries(GpsFix{}), 400));
  EXPECT_EQ(thumb(), old);
  EXPECT_GT(old.size(), 1000u); // the noise, not the grey picture now there
}

} // namespace
