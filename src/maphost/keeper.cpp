#include "maphost/keeper.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "maphost/gpx.h"
#include "maphost/web/page.h"
#include "maphost/web/thumbnail.h"

namespace {

constexpr auto kPause = std::chrono::seconds(1);
// The exported page holds thumbnails up to this many bytes in all.
constexpr size_t kMostThumbnailBytes = 32 << 20;

} // namespace

struct Keeper {
  Keeper(Store &kept, const KeptFiles &names) : store(kept), files(names) {}
  Store &store;
  KeptFiles files;
  std::vector<Position> copy; // the store as last written
  std::vector<std::string> thumbnails;
  size_t thumbnail_bytes = 0;
  size_t events_seen = 0;
  bool stop = false; // under the store's lock
  std::thread thread;
};

namespace {

// Takes in what changed in the store since the last time; false when
// nothing did.
bool take_changes(Keeper &keeper) {
  std::lock_guard<std::mutex> hold(keeper.store.lock);
  const std::vector<uint32_t> &events = keeper.store.events;
  if (keeper.events_seen == events.size())
    return false;
  keeper.copy.resize(keeper.store.positions.size());
  for (; keeper.events_seen < events.size(); keeper.events_seen++)
    keeper.copy[events[keeper.events_seen]] = keeper.store.positions[events[keeper.events_seen]];
  return true;
}

void add_thumbnails(Keeper &keeper) {
  for (size_t i = keeper.thumbnails.size(); i < keeper.copy.size(); i++) {
    std::string jpeg;
    if (keeper.copy[i].picture && keeper.thumbnail_bytes < kMostThumbnailBytes)
      jpeg = ReadThumbnail(keeper.copy[i].path);
    keeper.thumbnails.push_back(jpeg.empty() ? "" : JpegDataUri(jpeg));
    keeper.thumbnail_bytes += keeper.thumbnails.back().size();
  }
}

bool write_files(Keeper &keeper, std::string *why) {
  if (!keeper.files.gpx.empty() &&
      !WriteFileAtomically(keeper.files.gpx,
                           RenderGpx(keeper.copy, keeper.store.gpx_head, keeper.store.gpx_tail), why))
    return false;
  if (keeper.files.html.empty())
    return true;
  add_thumbnails(keeper);
  return WriteFileAtomically(keeper.files.html,
                             ExportPage(PageConfig{false, keeper.files.tiles}, keeper.copy,
                                        keeper.thumbnails),
                             why);
}

void keep_current(Keeper &keeper) {
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(keeper.store.lock);
      WaitForEvents(keeper.store, hold, std::chrono::hours(24), [&] {
        return keeper.stop || keeper.events_seen != keeper.store.events.size();
      });
    }
    bool stopping;
    {
      std::unique_lock<std::mutex> hold(keeper.store.lock);
      keeper.store.changed.wait_for(hold, kPause, [&] { return keeper.stop; });
      stopping = keeper.stop;
    }
    std::string why;
    if (take_changes(keeper) && !write_files(keeper, &why))
      fprintf(stderr, "pintrail-maphost: cannot write %s\n", why.c_str());
    if (stopping)
      return;
  }
}

} // namespace

void KeeperStop::operator()(Keeper *keeper) const {
  {
    std::lock_guard<std::mutex> hold(keeper->store.lock);
    keeper->stop = true;
    keeper->store.changed.notify_all();
  }
  if (keeper->thread.joinable())
    keeper->thread.join();
  delete keeper;
}

KeeperHandle StartKeeper(Store &store, const KeptFiles &files, std::string *why) {
  KeeperHandle keeper(new Keeper(store, files));
  take_changes(*keeper);
  if (!write_files(*keeper, why))
    return nullptr;
  keeper->thread = std::thread(keep_current, std::ref(*keeper));
  return keeper;
}
