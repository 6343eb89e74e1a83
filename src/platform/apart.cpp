#include "platform/apart.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <mutex>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/descriptor.h"
#include "platform/stream_socket.h"

namespace {

constexpr size_t kMostMessage = 512u << 20; // a request or an answer
constexpr int kPollMs = 100;                // how often a waiting caller looks at the time it gives up

// One message: its length in 8 bytes, then its bytes; the first byte of
// a request is its kind.
bool send_message(int fd, const std::string &bytes) {
  uint64_t length = bytes.size();
  return SendAll(fd, std::string(reinterpret_cast<const char *>(&length), sizeof length)) && SendAll(fd, bytes);
}

// Reads size bytes, waiting until deadline (or for ever), or until the
// clock passes *give_up; false when they did not all come.
bool receive_all(int fd, char *data, size_t size, std::chrono::steady_clock::time_point deadline,
                 const GiveUp *give_up) {
  for (size_t got = 0; got < size;) {
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline || (give_up && now.time_since_epoch().count() >= *give_up))
      return false;
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, kPollMs) <= 0)
      continue;
    ssize_t n = recv(fd, data + got, size - got, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
      continue;
    if (n <= 0)
      return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool receive_message(int fd, std::string &bytes, std::chrono::steady_clock::time_point deadline,
                     const GiveUp *give_up = nullptr) {
  uint64_t length = 0;
  if (!receive_all(fd, reinterpret_cast<char *>(&length), sizeof length, deadline, give_up) ||
      length > kMostMessage)
    return false;
  bytes.resize(length);
  return receive_all(fd, bytes.data(), bytes.size(), deadline, give_up);
}

constexpr auto kForever = std::chrono::steady_clock::time_point::max();

#if !defined(__SANITIZE_ADDRESS__) // the sanitizer's shadow memory alone is larger
// The bytes of address space this process has now: its libraries and
// what it was forked with.
rlim_t address_space() {
  unsigned long pages = 0;
  FILE *statm = fopen("/proc/self/statm", "r");
  if (statm && fscanf(statm, "%lu", &pages) != 1)
    pages = 0;
  if (statm)
    fclose(statm);
  return rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE));
}
#endif

// The worker's loop: a request, the work, an answer, each request with
// processor time of its own to spend; never returns.
[[noreturn]] void work_on(int fd, ApartWork work, const ApartLimits &limits) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
#if !defined(__SANITIZE_ADDRESS__)
  rlimit memory{address_space() + limits.most_bytes, address_space() + limits.most_bytes};
  setrlimit(RLIMIT_AS, &memory);
#endif
  std::string request, output;
  while (receive_message(fd, request, kForever)) {
    rusage used{};
    getrusage(RUSAGE_SELF, &used);
    rlimit cpu{rlim_t(used.ru_utime.tv_sec + used.ru_stime.tv_sec + limits.cpu_seconds), RLIM_INFINITY};
    setrlimit(RLIMIT_CPU, &cpu); // past it, SIGXCPU ends the worker
    output.clear();
    bool done = work(static_cast<unsigned char>(request[0]), request.substr(1), output);
    if (!send_message(fd, done ? "\1" + output : std::string(1, '\0')))
      break;
  }
  _exit(0);
}

// The helper's worker: a child process, replaced when it fails.
struct Worker {
  pid_t pid = -1;
  Descriptor channel{-1};
};

void end_worker(Worker &worker) {
  if (worker.pid > 0) {
    kill(worker.pid, SIGKILL);
    waitpid(worker.pid, nullptr, 0);
  }
  worker.pid = -1;
  worker.channel.reset(-1);
}

// The worker's answer to the request, a new worker started when there is
// none; a worker that fails or runs out of time is ended.
bool ask_worker(Worker &worker, ApartWork work, const ApartLimits &limits, const std::string &request,
                std::string &answer) {
  if (worker.pid < 0) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
      return false;
    Descriptor theirs(ends[1]);
    worker.channel.reset(ends[0]);
    if ((worker.pid = fork()) == 0) {
      worker.channel.reset(-1);
      work_on(theirs.fd, work, limits);
    }
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.wall_seconds);
  bool answered = worker.pid > 0 && send_message(worker.channel.fd, request) &&
                  receive_message(worker.channel.fd, answer, deadline) && !answer.empty();
  if (!answered)
    end_worker(worker);
  return answered;
}

// The helper's loop: a request, the worker's answer (one byte 0 when it
// failed), until the caller goes.
[[noreturn]] void serve(int fd, ApartWork work, const ApartLimits &limits) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  signal(SIGPIPE, SIG_IGN);
  Worker worker;
  std::string request, answer;
  while (receive_message(fd, request, kForever) && !request.empty()) {
    if (!ask_worker(worker, work, limits, request, answer))
      answer.assign(1, '\0');
    if (!send_message(fd, answer))
      break;
  }
  end_worker(worker);
  _exit(0);
}

} // namespace

struct Apart {
  pid_t helper;
  Descriptor channel;
  ApartLimits limits;
  std::mutex turn;   // one request at a time
  bool lost = false; // an answer left unread: the channel is out of step
};

void ApartStop::operator()(Apart *apart) const {
  kill(apart->helper, SIGKILL);
  waitpid(apart->helper, nullptr, 0);
  delete apart;
}

ApartHandle StartApart(ApartWork work, const ApartLimits &limits) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
    return nullptr;
  Descriptor mine(ends[0]), theirs(ends[1]);
  pid_t helper = fork();
  if (helper == 0) { // holds nothing of the caller's: no lock, no pipe another waits to see closed
    int channel = fcntl(theirs.fd, F_DUPFD, 10), null = open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2})
      dup2(null, fd);
    dup2(channel, 3);
    close_range(4, ~0U, 0);
    serve(3, work, limits);
  }
  if (helper < 0)
    return nullptr;
  return ApartHandle(new Apart{helper, Descriptor(mine.release()), limits, {}, false});
}

bool DoApart(Apart &apart, int kind, const std::string &input, std::string &output, const GiveUp &give_up) {
  std::lock_guard<std::mutex> hold(apart.turn);
  if (apart.lost || std::chrono::steady_clock::now().time_since_epoch().count() >= give_up)
    return false;
  std::string answer;
  // The helper answers by the child's deadline; a little more for the trip.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(apart.limits.wall_seconds + 2);
  apart.lost = !send_message(apart.channel.fd, std::string(1, char(kind)) + input) ||
               !receive_message(apart.channel.fd, answer, deadline, &give_up) || answer.empty();
  if (apart.lost || answer[0] != '\1')
    return false;
  output.assign(answer, 1);
  return true;
}
