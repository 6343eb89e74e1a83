// pintrail-flood: the web view under a flood of slow connections.
//   pintrail-flood PORT TOKEN CONNECTIONS SECONDS
// Opens CONNECTIONS connections to 127.0.0.1:PORT that each trickle a
// request one byte a second, opening again at once those that are dropped,
// and meanwhile asks for the page and the first thumbnail with the token
// five times a second, as a browser does: over a connection kept open, a
// new one when it was closed. Prints "WORST_MS ANSWERED ASKED": the
// owner's slowest response, and how many of its requests got a 200.
#include <arpa/inet.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/loopback.h"

namespace {

int port = 0;

int owner = -1; // the owner's connection, kept open

// The status of a whole GET, or 0 when none came within five seconds.
int get(const std::string &target) {
  std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
  std::string response;
  char buffer[65536];
  for (int attempt = 0; attempt < 2 && response.empty(); attempt++) { // once more on a new connection
    if (owner < 0 || send(owner, request.data(), request.size(), MSG_NOSIGNAL) <= 0) {
      close(owner);
      owner = ConnectLoopback(port);
      timeval patience{5, 0};
      setsockopt(owner, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
      if (owner < 0 || send(owner, request.data(), request.size(), MSG_NOSIGNAL) <= 0)
        continue;
    }
    size_t length = 0, head = std::string::npos; // read up to the end of the body
    for (ssize_t got; (head == std::string::npos || response.size() < head + 4 + length) &&
                      (got = read(owner, buffer, sizeof buffer)) > 0;) {
      response.append(buffer, static_cast<size_t>(got));
      if (head == std::string::npos && (head = response.find("\r\n\r\n")) != std::string::npos) {
        size_t field = response.find("Content-Length: ");
        length = field < head ? strtoul(response.c_str() + field + 16, nullptr, 10) : 0;
      }
    }
    if (head == std::string::npos) {
      response.clear();
      close(owner);
      owner = -1;
    }
  }
  return response.size() > 12 ? atoi(response.c_str() + 9) : 0;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    fprintf(stderr, "usage: pintrail-flood PORT TOKEN CONNECTIONS SECONDS\n");
    return 2;
  }
  port = atoi(argv[1]);
  std::string token = argv[2];
  rlimit files{65536, 65536};
  setrlimit(RLIMIT_NOFILE, &files);
  std::vector<int> slow(static_cast<size_t>(atoi(argv[3])), -1);
  auto start = std::chrono::steady_clock::now(), trickled = start - std::chrono::seconds(1);
  double worst = 0;
  int asked = 0, answered = 0;
  while (std::chrono::steady_clock::now() - start < std::chrono::seconds(atoi(argv[4]))) {
    bool trickle = std::chrono::steady_clock::now() - trickled >= std::chrono::seconds(1);
    if (trickle)
      trickled = std::chrono::steady_clock::now();
    char byte;
    for (int &fd : slow)
      if (fd < 0 || recv(fd, &byte, 1, MSG_DONTWAIT | MSG_PEEK) == 0 ||
          (trickle && send(fd, "G", 1, MSG_NOSIGNAL | MSG_DONTWAIT) != 1)) {
        close(fd);
        fd = ConnectLoopback(port); // dropped: back again
      }
    for (const char *target : {"/?token=", "/thumb/0?token="}) {
      auto asking = std::chrono::steady_clock::now();
      answered += get(target + token) == 200;
      asked++;
      worst = std::max(worst, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - asking).count());
    }
    usleep(200000);
  }
  printf("%.1f %d %d\n", worst, answered, asked);
  return 0;
}
