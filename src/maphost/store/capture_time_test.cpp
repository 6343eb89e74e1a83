#include "maphost/store/capture_time.h"

#include <gtest/gtest.h>

namespace {

TEST(CaptureTime, OnlyARealMomentInTheCamerasShapeHasSeconds) {
  const std::pair<const char *, std::optional<int64_t>> times[] = {
      {"1970:01:01 00:00:00", 0}, {"2020:02:29 23:59:59", 1583020799}, {"2000:02:29 12:00:00", 951825600}, {"2019:02:29 10:00:00", {}},
      {"0000:01:01 00:00:00", -62167219200}, {"9999:12:31 23:59:59", 253402300799}, {"1900:02:29 10:00:00", {}},
      {"0000:00:00 00:00:00", {}}, {"2016:13:01 10:00:00", {}}, {"2016:07:05 24:00:00", {}}, {"2016:07:05 23:60:00", {}},
      {"2016:07:05 23:59:60", {}}, {"2016:07:05 09:15:00 ", {}}, {"2016:07:05  9:15:00", {}}, {"2016-07-05 09:15:00", {}}, {"", {}}};
  for (const auto &[text, seconds] : times)
    EXPECT_EQ(CaptureSeconds(text), seconds) << text;
}

} // namespace
