// pintrail-hostload: the map host under load.
//   pintrail-hostload MAPHOST N CLIENTS [HOST WORDS...] [-- CMD ARGS...]
// starts MAPHOST (with its words) on a private port, opens CLIENTS live web
// clients that read and, with more than one, one that never does (with
// WEB), sends N commands (waypoints and pictures in turn, at distinct
// places), or runs CMD against the host with its output to /dev/null, and
// prints "SECONDS PEAK_RSS_KIB WRITTEN_BYTES": the time the commands took,
// the host's peak memory, and what it wrote in all, its last files included.
#include <arpa/inet.h>
#include <poll.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "maplink/commands.h"
#include "platform/loopback.h"

namespace {

long long proc_number(pid_t pid, const char *file, const char *field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + file);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0)
      return atoll(line.c_str() + strlen(field));
  return -1;
}

int live_client(int port, const std::string &token) {
  std::string request = "GET /events?token=" + token + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                        std::to_string(port) + "\r\n\r\n";
  int fd = ConnectLoopback(port);
  if (fd < 0 || write(fd, request.data(), request.size()) < 0)
    fprintf(stderr, "hostload: a live client could not connect\n");
  return fd;
}

// Runs argv with its output to /dev/null; false when it failed.
bool run_command(char **argv) {
  pid_t child = fork();
  if (child == 0) {
    freopen("/dev/null", "w", stdout);
    execv(argv[0], argv);
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: pintrail-hostload MAPHOST N CLIENTS [HOST WORDS...] [-- CMD ARGS...]\n");
    return 2;
  }
  char **command = argv + argc;
  for (int i = 4; i < argc; i++)
    if (strcmp(argv[i], "--") == 0) {
      command = argv + i + 1;
      argv[i] = nullptr;
      argc = i;
    }
  long count = atol(argv[2]);
  int clients = atoi(argv[3]);
  char ports[] = "/tmp/pintrail-hostload-XXXXXX";
  setenv("REXX_PORT_DIR", mkdtemp(ports), 1);
  std::string out = std::string(ports) + "/host.out";
  pid_t host = fork();
  if (host == 0) {
    freopen(out.c_str(), "w", stdout);
    std::vector<char *> words{argv[1], const_cast<char *>("QUIET")};
    words.insert(words.end(), argv + 4, argv + argc);
    words.push_back(nullptr);
    execv(argv[1], words.data());
    _exit(127);
  }
  std::string url, socket = std::string(ports) + "/VANTORA.1";
  for (int i = 0; i < 1000 && (access(socket.c_str(), F_OK) != 0 || (clients > 0 && url.empty())); i++) {
    usleep(10000); // ready: the port is there, and with WEB its address printed
    std::ifstream printed(out);
    std::getline(printed, url);
  }
  std::vector<int> readers;
  int stalled = -1;
  std::atomic<bool> done{false};
  std::thread reading;
  if (clients > 0) {
    int port = atoi(url.c_str() + url.find("127.0.0.1:") + 10);
    std::string token = url.substr(url.find("token=") + 6);
    for (int i = 0; i < clients; i++)
      readers.push_back(live_client(port, token));
    if (clients > 1)
      stalled = live_client(port, token);
    reading = std::thread([&] { // reads what comes, as a browser would
      static char buffer[1 << 16];
      std::vector<pollfd> ready;
      for (int fd : readers)
        ready.push_back(pollfd{fd, POLLIN, 0});
      while (!done)
        if (poll(ready.data(), ready.size(), 100) > 0)
          for (pollfd &one : ready)
            if (one.revents & POLLIN)
              recv(one.fd, buffer, sizeof buffer, MSG_DONTWAIT);
    });
  }
  auto start = std::chrono::steady_clock::now();
  if (*command && !run_command(command))
    fprintf(stderr, "hostload: %s failed\n", command[0]);
  for (long i = 0; i < count && !*command; i++) {
    double lat = -80 + 160.0 * (i % 9973) / 9973, lon = -170 + 340.0 * (i % 10007) / 10007;
    std::string name = "/photos/" + std::to_string(i / 50) + "/IMG_" + std::to_string(i) + ".jpg";
    std::string command = i % 2 ? FormatPicturePosition(lat, lon, name.c_str())
                                : FormatWaypoint(lat, lon, ("2016:07:04 " + std::to_string(i)).c_str());
    if (!SendCommand(kMapPortName, command.c_str()))
      fprintf(stderr, "hostload: command %ld failed\n", i);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  long long peak = proc_number(host, "status", "VmHWM:");
  done = true;
  if (reading.joinable())
    reading.join();
  for (int fd : readers)
    close(fd);
  if (stalled >= 0)
    close(stalled);
  kill(host, SIGTERM);
  siginfo_t ended{};
  waitid(P_PID, static_cast<id_t>(host), &ended, WEXITED | WNOWAIT); // its counts stay readable
  long long written = proc_number(host, "io", "wchar: ");
  waitpid(host, nullptr, 0);
  printf("%.3f %lld %lld\n", seconds, peak, written);
  std::string cleanup = std::string("rm -rf ") + ports;
  return system(cleanup.c_str()) == 0 ? 0 : 1;
}
