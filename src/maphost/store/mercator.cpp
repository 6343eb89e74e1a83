#include "maphost/store/mercator.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

constexpr double kNorthmost = 85.0511287798066;

int32_t clamped(double unit) {
  return static_cast<int32_t>(std::clamp(std::floor(unit * kWorldSide), 0.0, double(kWorldSide - 1)));
}

bool number_of(std::string_view text, double &number) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end == text.data() + text.size() && std::isfinite(number);
}

} // namespace

MapPoint MapPointOf(double latitude, double longitude) {
  double phi = std::clamp(latitude, -kNorthmost, kNorthmost) * M_PI / 180;
  double y = (1 - std::log(std::tan(phi) + 1 / std::cos(phi)) / M_PI) / 2;
  return MapPoint{clamped((longitude + 180) / 360), clamped(y)};
}

bool DegreesOf(std::string_view latitude, std::string_view longitude, double &lat, double &lon) {
  return number_of(latitude, lat) && number_of(longitude, lon) && std::fabs(lat) <= 90 && std::fabs(lon) <= 180;
}

bool MapPointOf(std::string_view latitude, std::string_view longitude, MapPoint &point) {
  double lat = 0, lon = 0;
  if (!DegreesOf(latitude, longitude, lat, lon))
    return false;
  point = MapPointOf(lat, lon);
  return true;
}

double LatitudeOf(int32_t y) {
  double n = M_PI * (1 - 2.0 * y / kWorldSide);
  return std::atan(std::sinh(n)) * 180 / M_PI;
}

double LongitudeOf(int32_t x) { return 360.0 * x / kWorldSide - 180; }
