// The I/O limit: the least any survey must do with the disk. Walks DIR as
// the floor does, then reads the first 64 KiB of every file with 32
// threads, parsing nothing and printing nothing.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench_walk.h"

namespace {

constexpr int kThreads = 32;
constexpr size_t kHead = 64 * 1024;

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: pintrail-iolimit DIR\n");
    return 2;
  }
  std::vector<std::string> files;
  BenchWalk(argv[1], [&](const std::string &path) { files.push_back(path); });
  std::atomic<size_t> next{0};
  std::vector<std::thread> readers;
  for (int i = 0; i < kThreads; ++i)
    readers.emplace_back([&] {
      std::vector<char> head(kHead);
      for (size_t at; (at = next++) < files.size();) {
        int fd = open(files[at].c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
          continue;
        (void)!read(fd, head.data(), head.size());
        close(fd);
      }
    });
  for (std::thread &reader : readers)
    reader.join();
  return 0;
}
