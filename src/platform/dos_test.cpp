// The file-system calls' failures, as the survey's workers read them.
#include "platform/dos.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <thread>

namespace {

// Each worker reads its own failure, never another's.
TEST(Dos, IoErrIsPerThread) {
  EXPECT_EQ(Lock("/nowhere/at/all", ACCESS_READ), nullptr);
  EXPECT_EQ(IoErr(), ENOENT);
  int seen = -1;
  std::thread([&seen] { seen = IoErr(); }).join();
  EXPECT_EQ(seen, 0);
}

} // namespace
