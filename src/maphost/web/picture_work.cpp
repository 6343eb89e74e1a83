#include "maphost/web/picture_work.h"

#include <nlohmann/json.hpp>

#include "maphost/thumbnails/attached.h"
#include "maphost/thumbnails/bounded.h"

namespace {

std::string facts_json(const PictureFacts &facts) {
  nlohmann::json value = nlohmann::json::object();
  if (!facts.time.empty())
    value["time"] = facts.time, value["from"] = facts.time_from;
  if (facts.has_altitude)
    value["altitude"] = facts.altitude;
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void make(PictureJob &job) {
  std::string file;
  if (!ReadAttachedPicture(job.position, file))
    return;
  if (job.want == PictureWant::Thumbnail) {
    job.bytes = BoundedThumbnail(file);
    job.type = job.bytes.empty() ? nullptr : "image/jpeg";
  } else if (job.want == PictureWant::Facts) {
    job.bytes = facts_json(ReadFacts(file));
    job.type = "application/json";
  } else {
    WholePicture whole = BoundedWhole(std::move(file));
    job.type = whole.type;
    job.bytes = std::move(whole.bytes);
  }
}

} // namespace

bool CachedThumbnail(PictureWork &work, uint32_t index, std::string &jpeg) {
  std::lock_guard<std::mutex> hold(work.lock);
  return KeptThumbnail(work.thumbnails, index, jpeg);
}

void QueuePictureJob(PictureWork &work, PictureJob *job) {
  std::lock_guard<std::mutex> hold(work.lock);
  work.queue.push_back(job);
  work.queued.notify_one();
}

void DoPictureWork(PictureWork &work) {
  std::unique_lock<std::mutex> hold(work.lock);
  for (;;) {
    work.queued.wait(hold, [&] { return work.stopping || !work.queue.empty(); });
    if (work.stopping)
      return;
    PictureJob *job = work.queue.front();
    work.queue.pop_front();
    hold.unlock();
    make(*job);
    hold.lock();
    if (job->want == PictureWant::Thumbnail)
      KeepThumbnail(work.thumbnails, job->index, job->bytes);
    MHD_resume_connection(job->connection);
  }
}

void StopPictureWork(PictureWork &work) {
  {
    std::lock_guard<std::mutex> hold(work.lock);
    work.stopping = true;
    work.queued.notify_all();
  }
  if (work.thread.joinable())
    work.thread.join();
  for (PictureJob *job : work.queue)
    MHD_resume_connection(job->connection);
  work.queue.clear();
}
