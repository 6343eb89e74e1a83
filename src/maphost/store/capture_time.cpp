#include "maphost/store/capture_time.h"

#include <chrono>

namespace {

constexpr std::string_view kShape = "dddd:dd:dd dd:dd:dd";

unsigned number(std::string_view text, size_t at, size_t digits) {
  unsigned n = 0;
  for (size_t i = at; i < at + digits; i++)
    n = n * 10 + unsigned(text[i] - '0');
  return n;
}

} // namespace

std::optional<int64_t> CaptureSeconds(std::string_view taken) {
  if (taken.size() != kShape.size())
    return std::nullopt;
  for (size_t i = 0; i < kShape.size(); i++)
    if (kShape[i] == 'd' ? taken[i] < '0' || taken[i] > '9' : taken[i] != kShape[i])
      return std::nullopt;
  using namespace std::chrono;
  year_month_day day{year(int(number(taken, 0, 4))), month(number(taken, 5, 2)), std::chrono::day(number(taken, 8, 2))};
  unsigned hour = number(taken, 11, 2), minute = number(taken, 14, 2), second = number(taken, 17, 2);
  if (!day.ok() || hour > 23 || minute > 59 || second > 59)
    return std::nullopt;
  return int64_t(sys_days(day).time_since_epoch().count()) * 86400 + hour * 3600 + minute * 60 + second;
}
