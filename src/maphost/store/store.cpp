#include "maphost/store/store.h"

namespace {

std::string waypoint_key(const Position &position) {
  return position.name + '\0' + position.latitude + '\0' + position.longitude;
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
    store.positions.push_back(std::move(position));
    store.changed_at.push_back(0);
  } else {
    store.positions[index] = std::move(position);
  }
  store.changed_at[index] = static_cast<uint32_t>(store.events.size());
  store.events.push_back(index);
  store.changes++;
  if (store.event_waiters > 0)
    store.changed.notify_all();
  return Kept::Changed;
}
