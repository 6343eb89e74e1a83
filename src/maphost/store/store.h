// What the map host keeps: every waypoint and picture position it received
// (and those of a GPX file it continues), numbered in arrival order, shared
// by the port exchange, the file writer and the web view. The positions
// live in a SQLite database: in memory, or in a file that outlives the host.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "maphost/store/cells.h"
#include "maphost/store/database.h"
#include "maphost/store/journal.h"
#include "maphost/store/position.h"
#include "maphost/store/schema.h"

struct Store {
  Store(); // in memory
  std::mutex lock; // guards everything below but the journal
  std::condition_variable changed;
  // Threads waiting for the next position: only they are woken by one, so
  // a busy exchange wakes nobody who is not waiting for it.
  int event_waiters = 0;
  Database db;
  StoreStatements sql;   // prepared on db
  bool writing = false;  // a transaction is open
  size_t position_count = 0, picture_count = 0;
  size_t lone_waypoints = 0, places = 0; // places: where pictures are
  size_t event_count = 0; // positions added or moved so far, kept with each
  MapPoint least{kWorldSide, kWorldSide}, most{-1, -1}; // the box of every position on the map
  CellChanges cells;        // not in the database yet
  size_t spots_written = 0; // the events whose positions are in the spot index
  // The last position's waypoint when it was kept already: a burst's
  // pictures share their capture time, and each after the first finds its
  // waypoint taken.
  Position repeated;
  // Where each new position is written before it counts as kept; none
  // while a file or journal is read in. The port exchange writes it under
  // journal_lock alone, so that it never waits for the database; whoever
  // holds both took journal_lock first.
  Journal *journal = nullptr;
  std::mutex journal_lock;
  // Positions journalled and answered so far, and how many of them are
  // kept: a reader waits for those answered before it asked, not for a
  // quiet moment, which a busy survey may never give.
  std::atomic<size_t> journalled{0};
  size_t taken_in = 0;
  int settle_waiters = 0; // readers waiting for them
};

// Moves the store's positions to the database file at path, created 0600
// when missing; what it held before is dropped. False, with the reason,
// when the file cannot be had: a link, another user's, one with other
// names, or not a database.
bool OpenStoreFile(Store &store, const std::string &path, std::string *why);

enum class Kept { Changed = 1, Same, Lost }; // from 1: a Kept made by default is no answer
// Adds a waypoint unless one with the same name and position is kept, and
// a picture, or moves the one kept with the same link. Same when nothing
// changed; Lost, nothing changed, when the journal could not take it.
// Takes the lock. from_file keeps every position, as a file being
// continued holds them.
Kept KeepPosition(Store &store, Position position, bool from_file = false);
// KeepPosition in two steps, so that the port exchange answers between
// them: the position into the journal (false when it could not take it),
// then into the store. The journal is not emptied in between.
bool JournalPosition(Store &store, const Position &position);
void KeepJournalled(Store &store, Position position);
// The store's lock, once every position answered is kept: what a reader
// asks for after an answer, it finds.
std::unique_lock<std::mutex> SettledLock(Store &store);

// Makes what was kept so far last (a file store's is on the disk), then
// empties the journal; false when the database refused. The port exchange
// waits meanwhile, and what it answered is taken in first.
bool CommitStore(Store &store);
// Brings the clusters and the spot index up to the positions kept; the
// lock held.
void WriteMapIndex(Store &store);
// What SQLite last said went wrong.
std::string StoreError(Store &store);
// Drops every position: a file is read in anew.
void ClearStore(Store &store);

// Small texts kept with the positions: empty when never set.
std::string StoreFact(Store &store, const char *name);
void SetStoreFact(Store &store, const char *name, const std::string &value);

// What the store holds now.
struct StoreCounts {
  size_t waypoints = 0, pictures = 0;
  size_t lone_waypoints = 0, places = 0; // waypoints without a picture; where pictures are
  size_t events = 0; // changes so far: positions added or moved
};
StoreCounts CountsOf(Store &store);

// The box of every position on the map (least: its north-west corner);
// false when there is none.
bool BoundsOf(Store &store, MapPoint &least, MapPoint &most);
// A copy of the position at index; false when there is none.
bool PositionAt(Store &store, size_t index, Position &position);
// A copy of the picture at index; false when there is no picture there.
bool PictureAt(Store &store, size_t index, Position &picture);

// One position as a reader is shown it: its index, itself, and the event
// that last changed it.
struct StoredPosition {
  uint32_t index;
  const Position &position;
  uint32_t changed_at;
};
using PositionVisit = std::function<bool(const StoredPosition &)>;

// Under the store's lock, shows visit the positions from index from on
// (by_events: those that the events from from on changed, in the order
// they changed) until end, the store's end or visit returning false;
// returns where it stopped.
size_t VisitPositions(Store &store, size_t from, size_t end, bool by_events, const PositionVisit &visit);

// Every position, in order, read a slice at a time so that writers are
// not held up meanwhile.
std::vector<Position> AllPositions(Store &store);
// Visits every position in index order, a slice at a time copied under
// the store's lock and visited without it.
void EachPosition(Store &store, const std::function<void(const Position &)> &visit);
// Positions given one by one to visit, in index order: the store's, or a
// test's.
using PositionFeed = std::function<void(const std::function<void(const Position &)> &visit)>;

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
