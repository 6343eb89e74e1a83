#include "maphost/files/keeper.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "maphost/files/gpx.h"
#include "maphost/web/page.h"
#include "maphost/web/thumbnail.h"

namespace {

constexpr auto kPause = std::chrono::seconds(1);
constexpr int kWriterNice = 10;
// The exported page holds thumbnails up to this many bytes in all.
constexpr size_t kMostThumbnailBytes = 32 << 20;
// How much of a page is read to tell whether this host wrote it.
constexpr size_t kPageHead = 4096;

} // namespace

struct Keeper {
  Keeper(Store &kept, KeptFiles &names) : store(kept), files(names) {}
  Store &store;
  KeptFiles &files;
  std::vector<Position> copy; // the store as last written
  std::vector<std::string> thumbnails; // data URIs, for every stride-th picture
  std::vector<bool> thumbnail_made;
  size_t stride = 1;
  size_t events_seen = 0;
  bool written = false; // the files hold the copy
  std::atomic<bool> stop{false}; // raised under the store's lock
  std::thread thread;
};

namespace {

bool open_file(const char *name, KeptFile &file, std::string *why) {
  return !name || OpenKeptFile(name, file, why);
}

// Takes in what changed in the store since the last time; false when
// nothing did.
bool take_changes(Keeper &keeper) {
  size_t seen = keeper.events_seen;
  keeper.events_seen = CopyChangesSince(keeper.store, seen, keeper.copy);
  return keeper.events_seen != seen;
}

// The thumbnails of every stride-th picture, the stride doubling until they
// fit the page's budget: they spread over the whole library, and those
// made stay chosen as it grows.
void add_thumbnails(Keeper &keeper) {
  keeper.thumbnails.resize(keeper.copy.size());
  keeper.thumbnail_made.resize(keeper.copy.size());
  for (;;) {
    size_t bytes = 0, ordinal = 0, i = 0;
    for (; i < keeper.copy.size() && bytes <= kMostThumbnailBytes; i++) {
      if (!keeper.copy[i].picture)
        continue;
      bool chosen = ordinal++ % keeper.stride == 0;
      if (chosen && !keeper.thumbnail_made[i]) {
        std::string jpeg = ThumbnailOf(keeper.copy[i]);
        keeper.thumbnails[i] = jpeg.empty() ? "" : JpegDataUri(jpeg);
      } else if (!chosen) {
        std::string().swap(keeper.thumbnails[i]);
      }
      keeper.thumbnail_made[i] = chosen;
      bytes += keeper.thumbnails[i].size();
    }
    if (bytes <= kMostThumbnailBytes)
      return;
    keeper.stride *= 2;
  }
}

bool write_files(Keeper &keeper, std::string *why) {
  KeptFiles &files = keeper.files;
  keeper.written = false;
  if (files.gpx.fd >= 0) {
    std::string gpx;
    if (!RenderGpx(keeper.copy, gpx, files.frame.head, files.frame.tail)) {
      *why = files.gpx.path + ": cannot render the GPX document; the file is left as it was";
      return false;
    }
    if (!ReplaceKeptFile(files.gpx, gpx, why))
      return false;
  }
  if (files.html.fd >= 0) {
    add_thumbnails(keeper);
    if (!ReplaceKeptFile(files.html, ExportPage(PageConfig{false, files.tiles, ""}, keeper.copy,
                                                keeper.thumbnails),
                         why))
      return false;
  }
  keeper.written = true;
  return true;
}

void keep_current(Keeper &keeper) {
  // Writing yields to the port exchange when both want a core: the journal
  // keeps what the files do not hold yet.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWriterNice);
  for (;;) {
    WaitForChangesSince(keeper.store, keeper.events_seen, std::chrono::hours(24), keeper.stop);
    bool stopping = PauseUnlessRaised(keeper.store, kPause, keeper.stop);
    fdatasync(keeper.files.journal.file.fd); // a power loss costs at most the last second
    std::string why;
    if (take_changes(keeper) && !write_files(keeper, &why))
      fprintf(stderr, "pintrail-maphost: cannot write %s\n", why.c_str());
    if (keeper.written) // once the files hold everything the journal does, it starts over
      ClearJournalIfSeen(keeper.store, keeper.events_seen);
    if (stopping)
      return;
  }
}

} // namespace

bool OpenKeptFiles(const char *gpx, const char *html, KeptFiles &files, Store &store,
                   std::string *why) {
  if (!open_file(gpx, files.gpx, why) || !open_file(html, files.html, why))
    return false;
  if (gpx && LoadGpx(ReadKeptFile(files.gpx), gpx, store, why, &files.frame) == GpxLoad::NotGpx) {
    *why += "; it is left as it is";
    return false;
  }
  if (html && !IsOwnPage(ReadKeptFile(files.html, kPageHead))) {
    *why = std::string(html) + " is not a page this host wrote; it is left as it is";
    return false;
  }
  if (!gpx && !html)
    return true;
  if (!OpenJournal(gpx ? files.gpx.path : files.html.path, files.journal, why))
    return false;
  for (Position &position : JournalPositions(files.journal))
    KeepPosition(store, std::move(position));
  return true;
}

void KeeperStop::operator()(Keeper *keeper) const {
  RaiseUnderLock(keeper->store, keeper->stop);
  if (keeper->thread.joinable())
    keeper->thread.join();
  if (keeper->written && !keeper->files.journal.path.empty()) // the files hold everything
    unlink(keeper->files.journal.path.c_str());
  delete keeper;
}

KeeperHandle StartKeeper(Store &store, KeptFiles &files, std::string *why) {
  KeeperHandle keeper(new Keeper(store, files));
  take_changes(*keeper);
  if (!write_files(*keeper, why))
    return nullptr;
  if (!files.journal.path.empty()) {
    ClearJournal(files.journal);
    AttachJournal(store, files.journal);
  }
  keeper->thread = std::thread(keep_current, std::ref(*keeper));
  return keeper;
}
