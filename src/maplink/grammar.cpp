#include "maplink/grammar.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace {

// printf into a string sized to fit: a long picture path is never cut.
template <typename... Args>
std::string format_command(const char *format, Args... args) {
  int length = snprintf(nullptr, 0, format, args...);
  if (length < 0)
    return std::string();
  std::string text(static_cast<size_t>(length) + 1, '\0');
  snprintf(text.data(), text.size(), format, args...);
  text.pop_back();
  return text;
}

bool all_digits(const std::string &text) {
  if (text.empty())
    return false;
  for (char c : text)
    if (!isdigit(static_cast<unsigned char>(c)))
      return false;
  return true;
}

// Moves the decimal point of a digit string by shift places.
std::string shift_point(const std::string &digits, long point, long shift) {
  long at = point + shift;
  std::string whole, fraction;
  if (at <= 0) {
    whole = "0";
    fraction = std::string(static_cast<size_t>(-at), '0') + digits;
  } else if (at >= static_cast<long>(digits.size())) {
    whole = digits + std::string(static_cast<size_t>(at) - digits.size(), '0');
  } else {
    whole = digits.substr(0, static_cast<size_t>(at));
    fraction = digits.substr(static_cast<size_t>(at));
  }
  while (!fraction.empty() && fraction.back() == '0')
    fraction.pop_back();
  size_t first = whole.find_first_not_of('0');
  whole = first == std::string::npos ? "0" : whole.substr(first);
  return fraction.empty() ? whole : whole + "." + fraction;
}

bool on_globe(const std::string &latitude, const std::string &longitude) {
  double lat = strtod(latitude.c_str(), nullptr);
  double lon = strtod(longitude.c_str(), nullptr);
  return lat >= -90.0 && lat <= 90.0 && lon >= -180.0 && lon <= 180.0;
}

// "WORD LAT LON REST": splits off the first three blank-separated fields.
bool split_command(const std::string &command, std::string fields[3],
                   std::string &rest) {
  size_t at = 0;
  for (int i = 0; i < 3; ++i) {
    size_t blank = command.find(' ', at);
    if (blank == std::string::npos || blank == at)
      return false;
    fields[i] = command.substr(at, blank - at);
    at = blank + 1;
  }
  rest = command.substr(at);
  return !rest.empty();
}

} // namespace

std::string FormatWaypoint(double latitude, double longitude, const char *name) {
  return format_command("addwaypoint %.9g %.9g \"%s\"", latitude, longitude, name);
}

std::string FormatPicturePosition(double latitude, double longitude,
                                  const char *path) {
  return format_command("AddJPGPos %.9g %.9g %s", latitude, longitude, path);
}

std::string PlainDecimal(const std::string &number) {
  std::string text = number;
  std::string sign;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    if (text[0] == '-')
      sign = "-";
    text.erase(0, 1);
  }
  long exponent = 0;
  size_t e = text.find_first_of("eE");
  if (e != std::string::npos) {
    std::string power = text.substr(e + 1);
    size_t digits_from = !power.empty() && (power[0] == '-' || power[0] == '+');
    if (!all_digits(power.substr(digits_from)) || power.size() > 6)
      return "";
    exponent = strtol(power.c_str(), nullptr, 10);
    if (exponent > 400 || exponent < -400)
      return "";
    text.erase(e);
  }
  size_t dot = text.find('.');
  std::string whole = text.substr(0, dot);
  std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
  if (!all_digits(whole) || (!fraction.empty() && !all_digits(fraction)))
    return "";
  std::string plain = shift_point(whole + fraction,
                                  static_cast<long>(whole.size()), exponent);
  return plain == "0" ? plain : sign + plain;
}

bool ParseMapCommand(const std::string &command, MapCommand &parsed) {
  std::string fields[3], rest;
  if (!split_command(command, fields, rest))
    return false;
  if (fields[0] == "addwaypoint") {
    if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"')
      return false;
    parsed.kind = MapCommand::Waypoint;
    parsed.text = rest.substr(1, rest.size() - 2);
  } else if (fields[0] == "AddJPGPos") {
    parsed.kind = MapCommand::Picture;
    parsed.text = rest;
  } else {
    return false;
  }
  parsed.latitude = PlainDecimal(fields[1]);
  parsed.longitude = PlainDecimal(fields[2]);
  return !parsed.latitude.empty() && !parsed.longitude.empty() &&
         on_globe(parsed.latitude, parsed.longitude);
}
