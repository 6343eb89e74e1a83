#include "maphost/files/continued.h"

#include <chrono>
#include <cstdio>
#include <sys/stat.h>
#include <vector>


namespace {

constexpr const char *kGpxFact = "gpx", *kWrittenFact = "written", *kHeadFact = "gpx head",
                     *kTailFact = "gpx tail";

std::string time_text(const timespec &time) {
  return std::to_string(time.tv_sec) + "." + std::to_string(time.tv_nsec);
}

size_t events_written(Store &store) { return strtoull(StoreFact(store, kWrittenFact).c_str(), nullptr, 10); }

// The positions changed since event from, in the order they changed.
std::vector<Position> changed_since(Store &store, size_t from) {
  std::vector<Position> changed;
  VisitPositions(store, from, SIZE_MAX, true, [&](const StoredPosition &stored) {
    changed.push_back(stored.position);
    return true;
  });
  return changed;
}

} // namespace

std::string FileSignature(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0)
    return "";
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" +
         std::to_string(info.st_size) + ":" + time_text(info.st_mtim) + ":" + time_text(info.st_ctim);
}

GpxLoad ContinueGpx(const KeptFile &file, const char *name, Store &store, GpxFrame &frame,
                    bool announce, std::string *why) {
  std::string signature = FileSignature(file.fd);
  if (StoreFact(store, kGpxFact) == signature) {
    frame = GpxFrame{StoreFact(store, kHeadFact), StoreFact(store, kTailFact)};
    return GpxLoad::Loaded;
  }
  // What was acknowledged after the document was last written stays kept.
  std::vector<Position> unwritten = changed_since(store, events_written(store));
  auto start = std::chrono::steady_clock::now();
  std::string contents = ReadKeptFile(file);
  announce = announce && !contents.empty();
  if (announce)
    printf("pintrail-maphost: reading %s into its store\n", name), fflush(stdout);
  ClearStore(store);
  GpxLoad loaded = LoadGpx(contents, name, store, why, &frame);
  if (loaded == GpxLoad::NotGpx)
    return loaded;
  StoreCounts counts = CountsOf(store);
  if (announce) {
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    printf("pintrail-maphost: read %zu waypoints and %zu pictures in %.1f s\n", counts.waypoints,
           counts.pictures, took.count());
    fflush(stdout);
  }
  for (Position &position : unwritten)
    KeepPosition(store, std::move(position));
  SetStoreFact(store, kGpxFact, signature);
  SetStoreFact(store, kHeadFact, frame.head);
  SetStoreFact(store, kTailFact, frame.tail);
  SetStoreFact(store, kWrittenFact, ""); // written anew: a GPX 1.0 document becomes 1.1
  if (CommitStore(store))
    return loaded;
  *why = std::string(name) + ": its store cannot be written";
  return GpxLoad::NotGpx;
}

void NoteFilesWritten(Store &store, size_t events, int gpx_fd, const GpxFrame &frame) {
  if (gpx_fd >= 0) {
    SetStoreFact(store, kGpxFact, FileSignature(gpx_fd));
    SetStoreFact(store, kHeadFact, frame.head);
    SetStoreFact(store, kTailFact, frame.tail);
  }
  SetStoreFact(store, kWrittenFact, std::to_string(events));
}

bool FilesHoldStore(Store &store) {
  return StoreFact(store, kWrittenFact) == std::to_string(CountsOf(store).events);
}
