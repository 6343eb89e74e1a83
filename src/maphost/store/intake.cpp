#include "maphost/store/intake.h"

#include <chrono>
#include <utility>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr size_t kMostWaiting = 4096;
// Positions are taken in a batch at a time, gathered for up to this long:
// waking the thread for each would cost more than keeping it.
constexpr size_t kBatch = 256;
constexpr auto kGather = std::chrono::milliseconds(5);
constexpr int kIntakeNice = 5;

} // namespace

Intake::Intake(Store &store) : store_(store), thread_([this] { take_in(); }) {}

Intake::~Intake() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ending_ = true;
  }
  handed_.notify_one();
  thread_.join();
}

void Intake::Hand(Position position) {
  std::unique_lock<std::mutex> hold(lock_);
  taken_.wait(hold, [&] { return waiting_.size() < kMostWaiting; });
  waiting_.push_back(std::move(position));
  if (idle_ || waiting_.size() == kBatch)
    handed_.notify_one();
}

void Intake::take_in() {
  // The exchange goes first when both want a core: the journal holds what
  // waits here.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kIntakeNice);
  std::deque<Position> batch;
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    idle_ = true;
    handed_.wait(hold, [&] { return ending_ || !waiting_.empty(); });
    idle_ = false;
    handed_.wait_for(hold, kGather, [&] { return ending_ || waiting_.size() >= kBatch; });
    if (waiting_.empty())
      return;
    batch.swap(waiting_);
    hold.unlock();
    taken_.notify_all();
    for (Position &position : batch)
      KeepJournalled(store_, std::move(position));
    batch.clear();
    hold.lock();
  }
}
