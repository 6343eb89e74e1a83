// The map host's files, the GPX document and the exported page, kept
// current by a thread of their own: each is rewritten whole at most once a
// second, taking in everything that arrived meanwhile, and once more at the
// end. Until they hold a position, the journal does.
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
};

// Opens and locks the files named (nullptr: none), continues the GPX
// document and replays what a host that ended without writing them left in
// the journal. False, with the reason, when one cannot be had; a refused
// file is left as it is.
bool OpenKeptFiles(const char *gpx, const char *html, KeptFiles &files, Store &store,
                   std::string *why);

struct Keeper;
struct KeeperStop {
  void operator()(Keeper *keeper) const; // writes what is new, then ends
};
using KeeperHandle = std::unique_ptr<Keeper, KeeperStop>;

// Writes the files once now, then empties the journal and lets the store
// write every new position to it; nullptr with the reason when a file
// cannot be written. Then keeps them current.
KeeperHandle StartKeeper(Store &store, KeptFiles &files, std::string *why);
