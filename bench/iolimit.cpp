// The I/O limit: the least any survey must do with the disk. Walks DIR as
// the floor does, then reads the first 64 KiB of every file with 32
// threads, parsing nothing and printing nothing.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kThreads = 32;
constexpr size_t kHead = 64 * 1024;

void walk(const std::string &dir, int level, std::vector<std::string> &files) {
  DIR *listing = opendir(dir.c_str());
  if (!listing)
    return;
  while (dirent *entry = readdir(listing)) {
    if (entry->d_name[0] == '.')
      continue;
    std::string path = dir + "/" + entry->d_name;
    if (entry->d_type == DT_DIR) {
      if (level < 8)
        walk(path, level + 1, files);
    } else {
      files.push_back(path);
    }
  }
  closedir(listing);
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: pintrail-iolimit DIR\n");
    return 2;
  }
  std::vector<std::string> files;
  walk(argv[1], 0, files);
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
