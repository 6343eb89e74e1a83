// pintrail-measure: the timing and memory side of the benchmark.
//   pintrail-measure evict DIR        drop every file under DIR from the
//                                     page cache (POSIX_FADV_DONTNEED)
//   pintrail-measure run CMD ARGS...  run CMD with its output to /dev/null;
//                                     print "SECONDS PEAK_RSS_KIB READ_BYTES",
//                                     the last the bytes its read calls got
#include <fcntl.h>
#include <ftw.h>
#include <sys/resource.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

int evict(const char *path, const struct stat *, int type, struct FTW *) {
  if (type != FTW_F)
    return 0;
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    fdatasync(fd);
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
  }
  return 0;
}

double now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

int run(char **argv) {
  double start = now();
  pid_t pid = fork();
  if (pid == 0) {
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    execvp(argv[0], argv);
    _exit(127);
  }
  // Ended but not reaped, the child's /proc/PID/io still holds its counts.
  siginfo_t ended{};
  waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOWAIT);
  double seconds = now() - start;
  unsigned long long read_bytes = 0;
  char io_path[64];
  snprintf(io_path, sizeof io_path, "/proc/%d/io", static_cast<int>(pid));
  if (FILE *io = fopen(io_path, "r")) {
    if (fscanf(io, "rchar: %llu", &read_bytes) != 1)
      read_bytes = 0;
    fclose(io);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  printf("%.4f %ld %llu\n", seconds, usage.ru_maxrss, read_bytes);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 3 && strcmp(argv[1], "evict") == 0)
    return nftw(argv[2], evict, 64, FTW_PHYS);
  if (argc >= 3 && strcmp(argv[1], "run") == 0)
    return run(argv + 2);
  fprintf(stderr, "usage: pintrail-measure evict DIR | run CMD ARGS...\n");
  return 2;
}
