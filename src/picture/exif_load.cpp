#include "picture/exif_load.h"

#include <fcntl.h>
#include <libexif/exif-loader.h>
#include <unistd.h>

#include "picture/exif_arena.h"
#include "picture/exif_block.h"

namespace {

constexpr size_t kHeadBytes = 64 * 1024; // holds the EXIF block of most files
constexpr size_t kFirstRead = 16 * 1024; // holds it for most camera files

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

// Reads into buffer from length up to limit bytes; false at the file's end
// (or a read error, which ends it as well). A regular file gives less than
// asked only at its end, which spares a read that would return nothing.
bool read_more(int fd, unsigned char *buffer, size_t &length, size_t limit) {
  ssize_t got = read(fd, buffer + length, limit - length);
  if (got <= 0)
    return false;
  length += static_cast<size_t>(got);
  return length == limit;
}

// Feeds the loader what was read, then the rest of the file until it has
// what it wants or the file ends.
void feed_loader(ExifLoader *loader, int fd, unsigned char *buffer, size_t length) {
  if (length == 0 || !exif_loader_write(loader, buffer, static_cast<unsigned>(length)))
    return;
  for (;;) {
    ssize_t got = read(fd, buffer, kHeadBytes);
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
  static thread_local unsigned char head[kHeadBytes];
  size_t length = 0;
  unsigned char *block = nullptr;
  size_t size = 0;
  bool more = read_more(file.fd, head, length, kFirstRead);
  bool found = FindExifBlock(head, length, !more, &block, &size);
  if (!found && more) {
    more = read_more(file.fd, head, length, kHeadBytes);
    found = FindExifBlock(head, length, !more, &block, &size);
  }
  ExifMem *mem = ExifArenaMem();
  ArenaGuard guard; // released after the loader, which lives in the arena too
  std::unique_ptr<ExifLoader, LoaderUnref> loader;
  const unsigned char *loaded = block;
  if (found) {
    HideUnreadParts(block, size);
  } else { // anything but the common layout: libexif's loader decides
    loader.reset(exif_loader_new_mem(mem));
    if (!loader)
      return none;
    feed_loader(loader.get(), file.fd, head, length);
    unsigned int loaded_size = 0;
    exif_loader_get_buf(loader.get(), &loaded, &loaded_size);
    size = loaded_size;
  }
  if (!loaded || !size)
    return none;
  ExifHandle data(exif_data_new_mem(mem), ExifRelease{true});
  if (!data)
    return none;
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(data.get(), loaded, static_cast<unsigned>(size));
  guard.armed = false;
  return data;
}

ExifHandle LoadExifDefault(const char *path) {
  return ExifHandle(exif_data_new_from_file(path), ExifRelease{false});
}
