#include "maphost/web/picture_work.h"

#include <nlohmann/json.hpp>

#include "maphost/thumbnails/attached.h"
#include "maphost/thumbnails/bounded.h"

namespace {

constexpr size_t kMostCachedBytes = 64 << 20;

void remember(PictureWork &work, uint32_t index, const std::string &jpeg) {
  if (work.thumbnails.count(index))
    return;
  work.used.push_back(index);
  work.thumbnails[index] = {jpeg, std::prev(work.used.end())};
  work.thumbnail_bytes += jpeg.size();
  while (work.thumbnail_bytes > kMostCachedBytes && !work.used.empty()) {
    auto oldest = work.thumbnails.find(work.used.front());
    work.thumbnail_bytes -= oldest->second.first.size();
    work.thumbnails.erase(oldest);
    work.used.pop_front();
  }
}

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
  auto found = work.thumbnails.find(index);
  if (found == work.thumbnails.end())
    return false;
  work.used.splice(work.used.end(), work.used, found->second.second);
  jpeg = found->second.first;
  return true;
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
      remember(work, job->index, job->bytes);
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
