#include "maphost/files/keeper.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "maphost/files/continued.h"
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
// Past this, the journal is emptied into the store even as the library
// grows: a host killed then replays at most this much.
constexpr long long kMostJournal = 64 << 20;

} // namespace

struct Keeper {
  Keeper(Store &kept, KeptFiles &names) : store(kept), files(names) {}
  Store &store;
  KeptFiles &files;
  Thumbnails thumbnails; // by index, every stride-th picture's
  size_t stride = 1;
  size_t events_seen = 0;   // what the files hold
  size_t positions_seen = 0;
  bool committed = false; // the store holds everything on the disk: its journal can go
  std::atomic<bool> stop{false}; // raised under the store's lock
  std::thread thread;
};

namespace {

bool open_file(const char *name, KeptFile &file, std::string *why) {
  return !name || OpenKeptFile(name, file, why);
}

// Whether the files are to be written now: the store has doubled
// since, or stands still, or the host ends. Written so, a growing library
// costs at most twice its files' final size in writes.
bool time_to_write(Keeper &keeper, size_t events_before_pause, bool stopping) {
  StoreCounts counts = CountsOf(keeper.store);
  size_t positions = counts.waypoints + counts.pictures;
  if (counts.events == keeper.events_seen)
    return false;
  return stopping || counts.events == events_before_pause || positions >= keeper.positions_seen * 2;
}

// The thumbnails of every stride-th picture, the stride doubling until they
// fit the page's budget: they spread over the whole library, and those
// made stay chosen as it grows.
void add_thumbnails(Keeper &keeper, const PositionFeed &each) {
  for (;;) {
    size_t bytes = 0, ordinal = 0, index = 0;
    Thumbnails chosen;
    each([&](const Position &p) {
      size_t i = index++;
      if (!p.picture || bytes > kMostThumbnailBytes || ordinal++ % keeper.stride != 0)
        return;
      auto made = keeper.thumbnails.find(i);
      Sample sample = made != keeper.thumbnails.end() ? std::move(made->second) : SampleOf(p);
      bytes += sample.thumbnail.size();
      chosen.emplace(i, std::move(sample));
    });
    keeper.thumbnails = std::move(chosen);
    if (bytes <= kMostThumbnailBytes)
      return;
    keeper.stride *= 2;
  }
}

bool write_files(Keeper &keeper, std::string *why) {
  KeptFiles &files = keeper.files;
  StoreCounts counts = CountsOf(keeper.store); // the files hold these, and perhaps more
  PositionFeed each = [&](const auto &visit) { EachPosition(keeper.store, visit); };
  if (files.gpx.fd >= 0 &&
      !ReplaceKeptFile(files.gpx, [&](int fd) { return WriteGpx(fd, each, files.frame.head, files.frame.tail); }, why))
    return false;
  if (files.html.fd >= 0) {
    add_thumbnails(keeper, each);
    if (!ReplaceKeptFile(files.html, ExportPage(PageConfig{false, files.tiles, ""}, each, keeper.thumbnails), why))
      return false;
  }
  NoteFilesWritten(keeper.store, counts.events, files.gpx.fd, files.frame);
  keeper.events_seen = counts.events;
  keeper.positions_seen = counts.waypoints + counts.pictures;
  return true;
}

// Whether the store is to be committed now, besides when the files are
// written: the library stands still, or the journal has grown past
// kMostJournal. Else the journal is flushed, so that a power loss costs at
// most the last second. Committed seldom, each page of an index is written
// once for many positions instead of once a second.
bool time_to_commit(Keeper &keeper, size_t events_before_pause) {
  if (keeper.files.journal.path.empty() || CountsOf(keeper.store).events == events_before_pause)
    return true;
  long long journalled = SyncJournal(keeper.files.journal);
  return journalled < 0 || journalled >= kMostJournal;
}

void complain(const std::string &why) { fprintf(stderr, "pintrail-maphost: cannot write %s\n", why.c_str()); }

void keep_current(Keeper &keeper) {
  // Writing yields to the port exchange when both want a core: the journal
  // keeps what the files do not hold yet.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWriterNice);
  for (;;) {
    size_t events = WaitForChangesSince(keeper.store, keeper.events_seen, std::chrono::hours(24), keeper.stop);
    bool stopping = PauseUnlessRaised(keeper.store, kPause, keeper.stop);
    bool writing = time_to_write(keeper, events, stopping);
    if (!writing && !stopping && !time_to_commit(keeper, events))
      continue;
    if (!CommitStore(keeper.store))
      complain(keeper.files.store_path + ": " + StoreError(keeper.store));
    std::string why;
    if (writing && !write_files(keeper, &why))
      complain(why);
    keeper.committed = CommitStore(keeper.store);
    if (!keeper.committed)
      complain(keeper.files.store_path + ": " + StoreError(keeper.store));
    if (stopping)
      return;
  }
}

} // namespace

bool OpenKeptFiles(const char *gpx, const char *html, KeptFiles &files, Store &store, bool announce,
                   std::string *why) {
  if (!open_file(gpx, files.gpx, why) || !open_file(html, files.html, why))
    return false;
  if (html && !IsOwnPage(ReadKeptFile(files.html, kPageHead))) {
    *why = std::string(html) + " is not a page this host wrote; it is left as it is";
    return false;
  }
  if (!gpx && !html)
    return true;
  const std::string &beside = gpx ? files.gpx.path : files.html.path;
  files.store_path = beside + ".db";
  files.address_path = beside + ".web";
  bool had_store = access(files.store_path.c_str(), F_OK) == 0;
  if (!OpenStoreFile(store, files.store_path, why))
    return false;
  if (gpx && ContinueGpx(files.gpx, gpx, store, files.frame, announce, why) == GpxLoad::NotGpx) {
    *why += "; it is left as it is";
    if (!had_store) // nothing of this host's stays beside a file it refused
      unlink(files.store_path.c_str());
    return false;
  }
  if (!OpenJournal(beside, files.journal, why))
    return false;
  for (Position &position : JournalPositions(files.journal))
    KeepPosition(store, std::move(position));
  return true;
}

void KeeperStop::operator()(Keeper *keeper) const {
  RaiseUnderLock(keeper->store, keeper->stop);
  if (keeper->thread.joinable())
    keeper->thread.join();
  if (keeper->committed && !keeper->files.journal.path.empty()) // the store holds everything
    unlink(keeper->files.journal.path.c_str());
  delete keeper;
}

KeeperHandle StartKeeper(Store &store, KeptFiles &files, std::string *why) {
  KeeperHandle keeper(new Keeper(store, files));
  bool unwritten = files.gpx.created || files.html.created || !FilesHoldStore(store);
  StoreCounts counts = CountsOf(store);
  keeper->events_seen = counts.events;
  keeper->positions_seen = counts.waypoints + counts.pictures;
  if (unwritten && !write_files(*keeper, why))
    return nullptr;
  if (!CommitStore(store)) {
    *why = files.store_path + ": " + StoreError(store);
    return nullptr;
  }
  if (!files.journal.path.empty()) {
    ClearJournal(files.journal);
    AttachJournal(store, files.journal);
  }
  keeper->thread = std::thread(keep_current, std::ref(*keeper));
  return keeper;
}
