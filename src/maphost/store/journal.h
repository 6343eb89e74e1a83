// The map host's journal: every position it acknowledged that its files may
// not hold yet, appended before the reply (a write, no flush to the disk),
// so that a host killed at any moment loses nothing it answered; the next
// host replays it. Flushed to the disk once a second, emptied whenever the
// store has committed everything it held.
#pragma once

#include <string>
#include <vector>

#include "maphost/store/position.h"
#include "platform/descriptor.h"

struct Journal {
  std::string path; // empty: none
  Descriptor file{-1};
};

// Opens and locks the journal beside a kept file (its path and ".journal"),
// created 0600 when missing; never through a link, nor one of another
// user's, nor one with other names (hard links).
bool OpenJournal(const std::string &beside, Journal &journal, std::string *why);
// Every whole record of the journal, in order; a record cut short by a
// crash is dropped.
std::vector<Position> JournalPositions(const Journal &journal);
// One record for position, in one write.
bool AppendJournal(const Journal &journal, const Position &position);
// Empties the journal: the files hold everything it held.
void ClearJournal(const Journal &journal);
// Flushes the journal to the disk; returns its size in bytes, -1 when it cannot.
long long SyncJournal(const Journal &journal);

// A position as one journal record, and back; false when bytes hold no
// whole record at *at.
std::string JournalRecord(const Position &position);
bool ReadJournalRecord(const std::string &bytes, size_t *at, Position &position);
