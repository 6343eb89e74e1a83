// Thumbnails, whole pictures and their facts, made on a thread of their own
// so that a slow picture holds no connection's event loop: a request for
// one is suspended until it is made, then answered.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <microhttpd.h>
#include <mutex>
#include <string>
#include <thread>

#include "maphost/store/store.h"
#include "maphost/web/thumbnail_cache.h"

enum class PictureWant { Thumbnail, Whole, Facts };

struct PictureJob {
  PictureWant want;
  uint32_t index;
  Position position; // as it was when asked for
  MHD_Connection *connection;
  const char *type = nullptr; // the answer's media type; nullptr: none
  std::string bytes;
};

struct PictureWork {
  std::mutex lock; // guards everything below
  std::condition_variable queued;
  std::deque<PictureJob *> queue;
  bool stopping = false;
  ThumbnailCache thumbnails; // an empty one: none could be made
  std::thread thread;
};

// A thumbnail made earlier; false when it has to be made.
bool CachedThumbnail(PictureWork &work, uint32_t index, std::string &jpeg);
// Queues the job; its connection, suspended, is resumed when it is done.
void QueuePictureJob(PictureWork &work, PictureJob *job);
// The worker's loop, until StopPictureWork.
void DoPictureWork(PictureWork &work);
// Ends the worker; queued jobs are resumed unanswered.
void StopPictureWork(PictureWork &work);
