// What the map host keeps: every waypoint and picture position it received
// (and those of a GPX file it continues), in arrival order, shared by the
// port exchange, the file writer and the web view.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "maphost/store/journal.h"
#include "maphost/store/position.h"

struct Store {
  std::mutex lock; // guards everything below
  std::condition_variable changed;
  // Threads waiting for the next position: only they are woken by one, so
  // a busy exchange wakes nobody who is not waiting for it.
  int event_waiters = 0;
  std::vector<Position> positions;
  size_t picture_count = 0; // of the positions
  // The index of each position as it was added or changed, in order: what
  // a live view has not seen yet is the tail after its last event.
  std::vector<uint32_t> events;
  std::vector<uint32_t> changed_at; // per position: the event that last changed it
  std::unordered_map<std::string, uint32_t> pictures; // by link
  std::unordered_set<std::string> waypoints;          // name, latitude, longitude
  // Where each new position is written before it counts as kept; none
  // while a file or journal is read in.
  Journal *journal = nullptr;
};

enum class Kept { Changed, Same, Lost };
// Adds a waypoint unless one with the same name and position is kept, and
// a picture, or moves the one kept with the same link. Same when nothing
// changed; Lost, nothing changed, when the journal could not take it.
// Takes the lock. from_file keeps every position, as a file being
// continued holds them.
Kept KeepPosition(Store &store, Position position, bool from_file = false);

// What the store holds now.
struct StoreCounts {
  size_t waypoints = 0, pictures = 0;
  size_t events = 0; // changes so far: positions added or moved
};
StoreCounts CountsOf(Store &store);

// A copy of the picture at index; false when there is no picture there.
bool PictureAt(Store &store, size_t index, Position &picture);

// Copies every position changed since event seen into copy at its index
// (copy grows to the store's size); returns the events seen now.
size_t CopyChangesSince(Store &store, size_t seen, std::vector<Position> &copy);

// One position as a reader is shown it: its index, itself, and the event
// that last changed it.
struct StoredPosition {
  uint32_t index;
  const Position &position;
  uint32_t changed_at;
};

// Under the store's lock, shows visit the positions from index from on
// (by_events: those that the events from from on changed, in the order
// they changed) until end, the store's end or visit returning false;
// returns where it stopped.
template <typename Visit>
size_t VisitPositions(Store &store, size_t from, size_t end, bool by_events, Visit visit) {
  std::lock_guard<std::mutex> hold(store.lock);
  end = std::min(end, by_events ? store.events.size() : store.positions.size());
  for (; from < end; from++) {
    uint32_t index = by_events ? store.events[from] : static_cast<uint32_t>(from);
    if (!visit(StoredPosition{index, store.positions[index], store.changed_at[index]}))
      break;
  }
  return from;
}

// Waits until there are events past seen, stop is raised or timeout passes;
// returns the events there are.
size_t WaitForChangesSince(Store &store, size_t seen, std::chrono::milliseconds timeout,
                           const std::atomic<bool> &stop);
// Waits timeout unless stop is raised; returns stop.
bool PauseUnlessRaised(Store &store, std::chrono::milliseconds timeout, const std::atomic<bool> &stop);
// Raises a flag its owner's waits on the store watch, and wakes them.
void RaiseUnderLock(Store &store, std::atomic<bool> &flag);

// From now on each new position is written to journal before it counts as kept.
void AttachJournal(Store &store, Journal &journal);
// Empties the journal when events up to seen are all there are: the files
// then hold everything it held.
void ClearJournalIfSeen(Store &store, size_t seen);
