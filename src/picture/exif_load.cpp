#include "picture/exif_load.h"

#include <cerrno>
#include <fcntl.h>
#include <libexif/exif-loader.h>
#include <sys/uio.h>
#include <unistd.h>

#include "formats/container.h"
#include "formats/tiff_block.h"
#include "picture/exif_arena.h"
#include "picture/exif_block.h"
#include "platform/descriptor.h"
#include "platform/dos.h"

namespace {

constexpr size_t kHeadBytes = 64 * 1024; // holds the EXIF block of most files
constexpr size_t kFirstRead = 16 * 1024; // holds it for most camera files

struct LoaderUnref {
  void operator()(ExifLoader *loader) const { exif_loader_unref(loader); }
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

// The first read of a head: from the page cache alone when it can be, which
// tells the walk whether the files it opens ahead are cached. A read that
// would wait goes on as a plain one.
bool read_head(int fd, unsigned char *buffer, size_t &length, size_t limit) {
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  iovec vector{buffer, limit};
  ssize_t got = preadv2(fd, &vector, 1, -1, RWF_NOWAIT);
  if (got < 0 && errno != EAGAIN && errno != EOPNOTSUPP)
    return false;
  NoteHeadRead(got < 0);
  if (got < 0)
    return read_more(fd, buffer, length, limit);
  length = static_cast<size_t>(got);
  if (length == limit)
    return true;
  // A cached read stops at the file's end or at a page not cached: only a
  // stop on a page boundary may not be the end.
  return got > 0 && length % page == 0 && read_more(fd, buffer, length, limit);
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

// libexif's data for a block in memory; none for an empty block.
ExifHandle load_block(const unsigned char *block, size_t size, ArenaGuard &guard) {
  ExifHandle data(nullptr, ExifRelease{true});
  if (!block || !size)
    return data;
  data.reset(exif_data_new_mem(ExifArenaMem()));
  if (!data)
    return data;
  exif_data_unset_option(data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
  exif_data_load_data(data.get(), block, static_cast<unsigned>(size));
  guard.armed = false;
  return data;
}

// The EXIF block of a HEIF, PNG, WebP, TIFF or raw file, copied out of it.
ExifHandle load_other_format(int fd, const unsigned char *head, size_t length) {
  static thread_local unsigned char block[kMostBlockBytes];
  FileSource source;
  ArenaGuard guard;
  if (!OpenFileSource(fd, head, length, source))
    return nullptr;
  return load_block(block, FindOtherFormatExif(source, block), guard);
}

} // namespace

void ExifRelease::operator()(ExifData *data) const {
  exif_data_unref(data);
  if (arena)
    ResetExifArena();
}

ExifHandle LoadExif(const char *path, int fd, bool all_formats) {
  // Non-blocking: a path swapped for a FIFO since it was examined cannot hang.
  Descriptor file(fd >= 0 ? fd : open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (file.fd < 0)
    return nullptr;
  static thread_local unsigned char head[kHeadBytes];
  size_t length = 0;
  unsigned char *block = nullptr;
  size_t size = 0;
  bool more = read_head(file.fd, head, length, kFirstRead);
  bool found = FindExifBlock(head, length, !more, &block, &size);
  if (!found && all_formats && IsOtherFormat(head, length))
    return load_other_format(file.fd, head, length);
  if (!found && more) { // read on to the block's end, or as far as the loader may need
    more = read_more(file.fd, head, length, size > length && size < kHeadBytes ? size : kHeadBytes);
    found = FindExifBlock(head, length, !more, &block, &size);
  }
  ArenaGuard guard; // released after the loader, which lives in the arena too
  if (found) {
    HideUnreadParts(block, size);
    return load_block(block, size, guard);
  }
  // Anything but the common layout: libexif's loader decides.
  std::unique_ptr<ExifLoader, LoaderUnref> loader(exif_loader_new_mem(ExifArenaMem()));
  if (!loader)
    return nullptr;
  feed_loader(loader.get(), file.fd, head, length);
  const unsigned char *loaded = nullptr;
  unsigned int loaded_size = 0;
  exif_loader_get_buf(loader.get(), &loaded, &loaded_size);
  return load_block(loaded, loaded_size, guard);
}

ExifHandle LoadExifDefault(const char *path) {
  return ExifHandle(exif_data_new_from_file(path), ExifRelease{false});
}
