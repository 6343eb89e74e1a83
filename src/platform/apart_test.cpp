#include "platform/apart.h"

#include <gtest/gtest.h>
#include <chrono>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

namespace {

enum Kind { kEcho, kSpin, kSleep, kHoard, kFail };

bool work(int kind, const std::string &input, std::string &output) {
  for (volatile unsigned long spins = 0; kind == kSpin;)
    spins = spins + 1;
  if (kind == kSleep)
    pause();
  kind == kHoard ? output.assign(256u << 20, 'x') : output.assign(input);
  return kind != kFail;
}

// Whatever a piece of work does, an answer or a failure comes within its limits; a fresh worker does the next.
TEST(Apart, WorkPastItsLimitsOrItsCallersPatienceFailsAndTheNextIsDone) {
  ApartHandle apart = StartApart(work, ApartLimits{64u << 20, 1, 2});
  GiveUp never{kNever};
  std::string output, big(1 << 20, 'a');
  EXPECT_TRUE(apart && DoApart(*apart, kEcho, big, output, never) && output == big);
  std::vector<Kind> failing = {kFail, kSpin, kSleep};
#if !defined(__SANITIZE_ADDRESS__) // no address space limit under the sanitizer
  failing.push_back(kHoard);
#endif
  for (Kind kind : failing) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(DoApart(*apart, kind, "in", output, never)) << kind;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3500)) << kind;
    EXPECT_TRUE(DoApart(*apart, kEcho, "again", output, never) && output == "again") << kind;
  }
  GiveUp gave_up{1}; // a caller that gave up before it asked costs the helper nothing
  EXPECT_FALSE(DoApart(*apart, kEcho, "late", output, gave_up));
  EXPECT_TRUE(DoApart(*apart, kEcho, "again", output, never) && output == "again");
  GiveUp give_up{kNever}; // a caller that gives up while it waits stops waiting then
  std::thread stopper([&] { usleep(200000); give_up = std::chrono::steady_clock::now().time_since_epoch().count(); });
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(DoApart(*apart, kSleep, "", output, give_up));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  stopper.join();
}

TEST(Apart, AStoppedHelperLeavesNoChild) {
  ASSERT_TRUE(StartApart(work, ApartLimits{64u << 20, 1, 2})); // stopped at once
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a zombie helper";
}

} // namespace
