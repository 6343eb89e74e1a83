#include "maphost/store/journal.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_lock.h"
#include "platform/own_file.h"
#include "platform/whole_file.h"
#include "platform/wire.h"

namespace {

constexpr char kWaypoint = 'W', kPicture = 'P';

// The texts of a record, in order.
std::string *texts(Position &position, int i) {
  std::string *all[] = {&position.latitude, &position.longitude, &position.name, &position.path,
                        &position.href};
  return all[i];
}
constexpr int kTexts = 5;

} // namespace

std::string JournalRecord(const Position &position) {
  std::string record(1, position.picture ? kPicture : kWaypoint);
  Position copy = position;
  for (int i = 0; i < kTexts; i++)
    PutWireText(record, *texts(copy, i));
  return record;
}

bool ReadJournalRecord(const std::string &bytes, size_t *at, Position &position) {
  size_t next = *at + 1;
  if (next > bytes.size() || (bytes[*at] != kWaypoint && bytes[*at] != kPicture))
    return false;
  position = Position{};
  position.picture = bytes[*at] == kPicture;
  for (int i = 0; i < kTexts; i++)
    if (GetWireText(bytes, &next, *texts(position, i)) != WireStatus::Complete)
      return false;
  *at = next;
  return true;
}

bool OpenJournal(const std::string &beside, Journal &journal, std::string *why) {
  journal.path = beside + ".journal";
  Descriptor fd(OpenOwnFile(journal.path, O_RDWR | O_CREAT | O_APPEND, "journal", why));
  bool locked = fd.fd >= 0 && LockForProcess(fd.fd);
  if (!locked) {
    if (fd.fd != -1)
      *why = journal.path + " is kept by another host";
    journal.path.clear();
    return false;
  }
  journal.file.reset(fd.release());
  return true;
}

std::vector<Position> JournalPositions(const Journal &journal) {
  std::string bytes;
  ReadWholeFile(journal.file.fd, bytes, SIZE_MAX); // what could be read: its whole records count
  std::vector<Position> positions;
  Position position;
  for (size_t at = 0; ReadJournalRecord(bytes, &at, position);)
    positions.push_back(std::move(position));
  return positions;
}

bool AppendJournal(const Journal &journal, const Position &position) {
  std::string record = JournalRecord(position);
  ssize_t written = write(journal.file.fd, record.data(), record.size());
  if (written == static_cast<ssize_t>(record.size()))
    return true;
  struct stat info; // a part of a record would hide every later one
  if (written > 0 && fstat(journal.file.fd, &info) == 0)
    (void)!ftruncate(journal.file.fd, info.st_size - written);
  return false;
}

void ClearJournal(const Journal &journal) {
  (void)!ftruncate(journal.file.fd, 0); // if not, replaying it again keeps nothing twice
}

long long SyncJournal(const Journal &journal) {
  struct stat info;
  if (fdatasync(journal.file.fd) != 0 || fstat(journal.file.fd, &info) != 0)
    return -1;
  return info.st_size;
}
