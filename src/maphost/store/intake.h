// Takes answered positions into the store on a thread of its own, in the
// order they were answered, so that the port exchange's next command does
// not wait for the database.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "maphost/store/store.h"

class Intake {
public:
  explicit Intake(Store &store);
  // Takes in what is still waiting, then ends the thread.
  ~Intake();
  Intake(const Intake &) = delete;
  Intake &operator=(const Intake &) = delete;
  // A journalled position, to be kept; waits while too many are waiting,
  // so that memory stays flat when the database falls behind.
  void Hand(Position position);

private:
  void take_in();
  Store &store_;
  std::mutex lock_;
  std::condition_variable handed_, taken_;
  std::deque<Position> waiting_;
  bool idle_ = false, ending_ = false;
  std::thread thread_;
};
