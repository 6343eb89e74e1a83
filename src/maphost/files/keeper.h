// The map host's files, the GPX document and the exported page, kept
// current by a thread of their own, from the store: it rewrites each file
// whole when the store stands still or has doubled since, and once more at
// the end, and commits the store then and when the journal grows large;
// until then the journal holds each position, flushed once a second.
#pragma once

#include <memory>
#include <string>

#include "maphost/files/gpx.h"
#include "maphost/files/kept_file.h"
#include "maphost/store/journal.h"
#include "maphost/store/store.h"

struct KeptFiles {
  KeptFile gpx, html; // fd -1: none
  Journal journal;    // beside the GPX file, else the page
  GpxFrame frame;     // a continued GPX file's other elements, as they stood
  std::string tiles;  // the exported page's tile URL template
  std::string store_path; // the store's database, beside the GPX file, else the page
  std::string address_path; // the web view's port and token, beside it
};

// Opens and locks the files named (nullptr: none) and the store's database
// beside them, continues the GPX document (announce: saying so when it is
// read in) and replays what a host that ended without committing left in
// the journal. False, with the reason, when one cannot be had; a refused
// file is left as it is.
bool OpenKeptFiles(const char *gpx, const char *html, KeptFiles &files, Store &store, bool announce,
                   std::string *why);

struct Keeper;
struct KeeperStop {
  void operator()(Keeper *keeper) const; // writes what is new, then ends
};
using KeeperHandle = std::unique_ptr<Keeper, KeeperStop>;

// Writes the files now unless they hold the store already, then empties the
// journal and lets the store write every new position to it; nullptr with
// the reason when a file cannot be written. Then keeps them current.
KeeperHandle StartKeeper(Store &store, KeptFiles &files, std::string *why);
