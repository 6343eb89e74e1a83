#include "picture/degrees.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kDelimiters[] = ", ";
constexpr double kDivisors[] = {1.0, 60.0, 3600.0};

} // namespace

double DegreesFromText(const char *coordinate, const char *reference) {
  double value = 0.0;
  const char *at = coordinate;
  for (double divisor : kDivisors) {
    at += strspn(at, kDelimiters);
    if (*at == '\0')
      break;
    size_t length = strcspn(at, kDelimiters);
    char token[64];
    size_t kept = length < sizeof token - 1 ? length : sizeof token - 1;
    memcpy(token, at, kept);
    token[kept] = '\0';
    value += strtod(token, nullptr) / divisor;
    at += length;
  }
  if (strcmp(reference, "S") == 0 || strcmp(reference, "W") == 0)
    value = 0.0 - value;
  return value;
}

double AltitudeFromText(const char *text) { return strtod(text, nullptr) / 1000.0; }
