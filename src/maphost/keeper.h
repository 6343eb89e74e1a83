// The map host's files, the GPX document and the exported page, kept
// current by a thread of their own: each is rewritten whole (a temporary
// file renamed over it) at most once a second, taking in everything that
// arrived meanwhile, and once more at the end.
#pragma once

#include <memory>
#include <string>

#include "maphost/store.h"

struct KeptFiles {
  std::string gpx;  // empty: none
  std::string html;
  std::string tiles; // the exported page's tile URL template
};

struct Keeper;
struct KeeperStop {
  void operator()(Keeper *keeper) const; // writes what is new, then ends
};
using KeeperHandle = std::unique_ptr<Keeper, KeeperStop>;

// Writes both files once now; nullptr with the reason when one cannot be
// written. Then keeps them current.
KeeperHandle StartKeeper(Store &store, const KeptFiles &files, std::string *why);
