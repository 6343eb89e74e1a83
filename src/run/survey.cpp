#include "run/survey.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

#include "picture/picture.h"
#include "platform/console.h"

namespace {

constexpr int kMostThreads = 64;
// Readers are woken when this many entries wait, or when the walk needs
// one: fewer wake-ups, each worth a run of pictures.
constexpr unsigned long kWakeBatch = 8;
constexpr auto kBreakPoll = std::chrono::milliseconds(20);

struct Entry {
  std::string path;
  int fd = -1;
  bool unreadable = false;
  bool done = false; // read, waiting to be reported
  PictureTags read;
};

int reader_count() {
  const char *asked = getenv("PINTRAIL_THREADS");
  long count = asked ? strtol(asked, nullptr, 10) : sysconf(_SC_NPROCESSORS_ONLN);
  return count < 1 ? 1 : count > kMostThreads ? kMostThreads : static_cast<int>(count);
}

} // namespace

struct Survey {
  explicit Survey(GeoRecord &run_record)
      : record(run_record), all_formats(SwitchSet(run_record.all_formats)) {}
  GeoRecord &record;
  const bool all_formats; // read by the reading threads while the walk changes record
  std::vector<std::thread> readers;
  std::mutex lock;
  std::condition_variable work, finished;
  Entry ring[kPicturesInFlight];
  // Entries in walk order: added by the walk, claimed by a reader, reported.
  unsigned long added = 0, claimed = 0, reported = 0;
  bool stopping = false;
  bool walk_waiting = false; // the walking thread waits for a picture
};

namespace {

void read_entries(Survey &survey) {
  std::unique_lock<std::mutex> hold(survey.lock);
  for (;;) {
    survey.work.wait(hold, [&] { return survey.stopping || survey.claimed < survey.added; });
    if (survey.claimed == survey.added)
      return;
    Entry &entry = survey.ring[survey.claimed++ % kPicturesInFlight];
    hold.unlock();
    if (!entry.unreadable)
      ReadPicture(entry.path.c_str(), entry.fd, survey.all_formats, entry.read);
    hold.lock();
    entry.done = true;
    if (survey.walk_waiting)
      survey.finished.notify_one();
  }
}

// Reports the oldest entry in flight, waiting for it if wait is set; false
// when it is not read yet.
bool report_oldest(Survey &survey, bool wait) {
  Entry &entry = survey.ring[survey.reported % kPicturesInFlight];
  {
    std::unique_lock<std::mutex> hold(survey.lock);
    while (!entry.done) {
      if (!wait)
        return false;
      survey.work.notify_all(); // whatever is left, read it now
      survey.walk_waiting = true;
      survey.finished.wait_for(hold, kBreakPoll);
      survey.walk_waiting = false;
      CheckBreak(); // a break ends the tool here, before any later picture
    }
  }
  CheckBreak();
  if (entry.unreadable)
    ProcessUnreadable(entry.path.c_str(), survey.record);
  else
    ReportPicture(entry.path.c_str(), entry.read, survey.record);
  survey.reported++;
  return true;
}

void add_entry(Survey &survey, const char *path, int fd, bool unreadable) {
  if (survey.added - survey.reported == kPicturesInFlight)
    report_oldest(survey, true);
  Entry &entry = survey.ring[survey.added % kPicturesInFlight];
  entry.path = path;
  entry.fd = fd;
  entry.unreadable = unreadable;
  entry.done = false;
  bool wake;
  {
    std::lock_guard<std::mutex> hold(survey.lock);
    wake = ++survey.added - survey.claimed >= kWakeBatch;
  }
  if (wake)
    survey.work.notify_all();
  while (survey.reported < survey.added && report_oldest(survey, false)) {
  }
}

} // namespace

void SurveyEnd::operator()(Survey *survey) const {
  while (survey->reported < survey->added)
    report_oldest(*survey, true);
  {
    std::lock_guard<std::mutex> hold(survey->lock);
    survey->stopping = true;
  }
  survey->work.notify_all();
  for (std::thread &reader : survey->readers)
    reader.join();
  delete survey;
}

SurveyHandle StartSurvey(GeoRecord &record) {
  SurveyHandle survey(new Survey(record));
  int count = reader_count();
  for (int i = 0; count > 1 && i < count; ++i) {
    try {
      survey->readers.emplace_back(read_entries, std::ref(*survey));
    } catch (const std::system_error &) {
      break; // as many readers as the system would start
    }
  }
  return survey;
}

void SurveyFile(Survey &survey, const char *path, int fd) {
  if (survey.readers.empty())
    ProcessPicture(path, survey.record, fd);
  else
    add_entry(survey, path, fd, false);
}

void SurveyUnreadable(Survey &survey, const char *path) {
  if (survey.readers.empty())
    ProcessUnreadable(path, survey.record);
  else
    add_entry(survey, path, -1, true);
}
