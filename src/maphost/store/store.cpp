#include "maphost/store/store.h"

namespace {

std::string waypoint_key(const Position &position) {
  return position.name + '\0' + position.latitude + '\0' + position.longitude;
}

// Waits, the lock held, until ready() or timeout, counted as waiting for
// the next position.
template <typename Ready>
void wait_for_events(Store &store, std::unique_lock<std::mutex> &hold,
                     std::chrono::milliseconds timeout, Ready ready) {
  store.event_waiters++;
  store.changed.wait_for(hold, timeout, ready);
  store.event_waiters--;
}

} // namespace

Kept KeepPosition(Store &store, Position position, bool from_file) {
  std::lock_guard<std::mutex> hold(store.lock);
  uint32_t index = static_cast<uint32_t>(store.positions.size());
  if (position.picture) {
    auto kept = store.pictures.find(position.href);
    if (kept != store.pictures.end() && !from_file) {
      const Position &old = store.positions[kept->second];
      if (old.latitude == position.latitude && old.longitude == position.longitude &&
          old.device == position.device && old.inode == position.inode)
        return Kept::Same;
      index = kept->second;
    }
  } else if (store.waypoints.count(waypoint_key(position)) && !from_file) {
    return Kept::Same;
  }
  if (store.journal && !AppendJournal(*store.journal, position))
    return Kept::Lost;
  if (position.picture)
    store.pictures.try_emplace(position.href, index);
  else
    store.waypoints.insert(waypoint_key(position));
  if (index == store.positions.size()) {
    store.picture_count += position.picture;
    store.positions.push_back(std::move(position));
    store.changed_at.push_back(0);
  } else {
    store.positions[index] = std::move(position);
  }
  store.changed_at[index] = static_cast<uint32_t>(store.events.size());
  store.events.push_back(index);
  if (store.event_waiters > 0)
    store.changed.notify_all();
  return Kept::Changed;
}

StoreCounts CountsOf(Store &store) {
  std::lock_guard<std::mutex> hold(store.lock);
  return StoreCounts{store.positions.size() - store.picture_count, store.picture_count,
                     store.events.size()};
}

bool PictureAt(Store &store, size_t index, Position &picture) {
  std::lock_guard<std::mutex> hold(store.lock);
  if (index >= store.positions.size() || !store.positions[index].picture)
    return false;
  picture = store.positions[index];
  return true;
}

size_t CopyChangesSince(Store &store, size_t seen, std::vector<Position> &copy) {
  std::lock_guard<std::mutex> hold(store.lock);
  if (seen >= store.events.size())
    return seen;
  copy.resize(store.positions.size());
  for (; seen < store.events.size(); seen++)
    copy[store.events[seen]] = store.positions[store.events[seen]];
  return seen;
}

size_t WaitForChangesSince(Store &store, size_t seen, std::chrono::milliseconds timeout,
                           const std::atomic<bool> &stop) {
  std::unique_lock<std::mutex> hold(store.lock);
  wait_for_events(store, hold, timeout, [&] { return stop || store.events.size() > seen; });
  return store.events.size();
}

bool PauseUnlessRaised(Store &store, std::chrono::milliseconds timeout, const std::atomic<bool> &stop) {
  std::unique_lock<std::mutex> hold(store.lock);
  store.changed.wait_for(hold, timeout, [&] { return stop.load(); });
  return stop.load();
}

void RaiseUnderLock(Store &store, std::atomic<bool> &flag) {
  std::lock_guard<std::mutex> hold(store.lock);
  flag = true;
  store.changed.notify_all();
}

void ClearJournalIfSeen(Store &store, size_t seen) {
  std::lock_guard<std::mutex> hold(store.lock); // no position is journalled meanwhile
  if (store.journal && seen == store.events.size())
    ClearJournal(*store.journal);
}

void AttachJournal(Store &store, Journal &journal) {
  std::lock_guard<std::mutex> hold(store.lock);
  store.journal = &journal;
}
