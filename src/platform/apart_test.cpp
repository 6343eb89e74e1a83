#include "platform/apart.h"

#include <gtest/gtest.h>
#include <chrono>
#include <thread>
#include <unistd.h>

namespace {

enum Kind { kEcho, kSpin, kSleep, kHoard, kFail };

bool work(int kind, const std::string &input, std::string &output) {
  volatile unsigned long spins = 0;
  while (kind == kSpin)
    spins = spins + 1;
  if (kind == kSleep)
    pause();
  if (kind == kHoard)
    output.assign(256u << 20, 'x');
  else
    output = input;
  return kind != kFail;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Whatever one piece of work does, the caller gets its answer or a failure within the
// limits, and the next piece is done by a fresh worker.
TEST(Apart, WorkPastItsLimitsFailsAndTheNextIsDone) {
  ApartHandle apart = StartApart(work, ApartLimits{64u << 20, 1, 2});
  ASSERT_TRUE(apart);
  GiveUp never{kNever};
  std::string output;
  EXPECT_TRUE(DoApart(*apart, kEcho, std::string(1 << 20, 'a'), output, never) && output == std::string(1 << 20, 'a'));
  std::vector<Kind> failing = {kFail, kSpin, kSleep};
#if !defined(__SANITIZE_ADDRESS__)
  failing.push_back(kHoard);
#endif
  for (Kind kind : failing) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(DoApart(*apart, kind, "in", output, never)) << kind;
    EXPECT_LT(seconds_since(start), 3.5) << kind; // its limit, never the caller's patience
    EXPECT_TRUE(DoApart(*apart, kEcho, "again", output, never) && output == "again") << kind;
  }
}

// A caller that gives up while it waits stops waiting then.
TEST(Apart, TheWaitEndsWhenTheCallerGivesUp) {
  ApartHandle apart = StartApart(work, ApartLimits{64u << 20, 30, 30});
  GiveUp give_up{kNever};
  std::thread stopper([&] { usleep(200000); give_up = std::chrono::steady_clock::now().time_since_epoch().count(); });
  auto start = std::chrono::steady_clock::now();
  std::string output;
  EXPECT_FALSE(DoApart(*apart, kSleep, "", output, give_up));
  EXPECT_LT(seconds_since(start), 1.0);
  stopper.join();
}

} // namespace
