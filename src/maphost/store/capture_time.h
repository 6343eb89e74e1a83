// A capture time as cameras write it, "2016:07:05 09:15:00", as seconds
// since 1970 (read as UTC): the one reading the trail, the days and the
// exported page share.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// None for any other text: an impossible day ("2019:02:29 10:00:00"), a
// clock never set ("0000:00:00 00:00:00"), a leap second, words. The text
// written back from the seconds is the same one.
std::optional<int64_t> CaptureSeconds(std::string_view taken);
