// pintrail-exchangefloor: the floor of the port exchange.
//   pintrail-exchangefloor N
// A server process and this client do N times what one map command needs
// at the least: connect to a Unix-domain socket, an 80-byte message, a
// 1-byte reply, close. Prints the client's seconds.
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr size_t kMessageBytes = 80;

bool transfer(int fd, char *bytes, size_t size, bool sending) {
  for (size_t done = 0; done < size;) {
    ssize_t n = sending ? write(fd, bytes + done, size - done) : read(fd, bytes + done, size - done);
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

[[noreturn]] void serve(int listener, long count) {
  char message[kMessageBytes], reply = '0';
  for (long i = 0; i < count; i++) {
    int fd = accept(listener, nullptr, nullptr);
    if (fd >= 0 && transfer(fd, message, sizeof message, false))
      transfer(fd, &reply, 1, true);
    close(fd);
  }
  _exit(0);
}

} // namespace

int main(int argc, char **argv) {
  long count = argc > 1 ? atol(argv[1]) : 0;
  if (count <= 0) {
    fprintf(stderr, "usage: pintrail-exchangefloor N\n");
    return 2;
  }
  char directory[] = "/tmp/pintrail-floor-XXXXXX";
  if (!mkdtemp(directory))
    return 1;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "%s/port", directory);
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      listen(listener, 64) != 0)
    return 1;
  pid_t server = fork();
  if (server == 0)
    serve(listener, count);
  close(listener);
  char message[kMessageBytes], reply;
  std::string(kMessageBytes, 'm').copy(message, kMessageBytes);
  int failed = 0;
  auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < count; i++) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
              transfer(fd, message, sizeof message, true) && transfer(fd, &reply, 1, false);
    failed += !ok;
    close(fd);
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  waitpid(server, nullptr, 0);
  unlink(address.sun_path);
  rmdir(directory);
  printf("%.4f\n", seconds);
  return failed ? 1 : 0;
}
