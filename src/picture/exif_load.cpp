#include "picture/exif_load.h"

#include <fcntl.h>
#include <libexif/exif-loader.h>
#include <unistd.h>

#include "picture/exif_arena.h"

namespace {

constexpr size_t kHeadBytes = 64 * 1024; // holds the EXIF block of most files

struct LoaderUnref {
  void operator()(ExifLoader *loader) const { exif_loader_unref(loader); }
};

struct FileDescriptor {
  int fd;
  ~FileDescriptor() {
    if (fd >= 0)
      close(fd);
  }
};

// Feeds the loader from the file until it has what it wants or the file ends.
void feed_loader(ExifLoader *loader, int fd) {
  static unsigned char buffer[kHeadBytes];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0 || !exif_loader_write(loader, buffer, static_cast<unsigned>(got)))
      return;
  }
}

// Empties the arena when a load ends with no data to hand out; the handle
// that takes the data empties it on release instead.
struct ArenaGuard {
  bool armed = true;
  ~ArenaGuard() {
    if (armed)
      ResetExifArena();
  }
};

} // namespace

void ExifRelease::operator()(ExifData *data) const {
  exif_data_unref(data);
  if (arena)
    ResetExifArena();
}

ExifHandle LoadExif(const char *path, int fd) {
  // Non-blocking: a path swapped for a FIFO since it was examined cannot hang.
  FileDescriptor file{fd >= 0 ? fd : open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
  ExifHandle none(nullptr, ExifRelease{true});
  if (file.fd < 0)
    return none;
  ExifMem *mem = ExifArenaMem();
  ArenaGuard guard; // released after the loader, which lives in the arena too
  std::unique_ptr<ExifLoader, LoaderUnref> loader(exif_loader_new_mem(mem));
  if (!loader)
    return none;
  feed_loader(loader.get(), file.fd);
  const unsigned char *block = nullptr;
  unsigned int size = 0;
  exif_loader_get_buf(loader.get(), &block, &size);
  if (!block || !size)
    return none;
  ExifHandle data(exif_data_new_mem(mem), ExifRelease{true});
  if (!data)
    return none;
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(data.get(), block, size);
  guard.armed = false;
  return data;
}

ExifHandle LoadExifDefault(const char *path) {
  return ExifHandle(exif_data_new_from_file(path), ExifRelease{false});
}
