// The JPEG markers the readers here look for.
#pragma once

#include <cstddef>

constexpr unsigned char kMarker = 0xFF; // every marker's first byte, and fill
constexpr unsigned char kStartOfImage = 0xD8;
constexpr unsigned char kApp0 = 0xE0, kApp1 = 0xE1, kApp2 = 0xE2; // JFIF, EXIF, ICC profile

// Whether bytes start a JPEG: its start-of-image marker.
inline bool StartsJpeg(const unsigned char *bytes, size_t length) {
  return length >= 2 && bytes[0] == kMarker && bytes[1] == kStartOfImage;
}
// Start-of-frame markers: C0 to CF but DHT (C4), JPG (C8) and DAC (CC).
inline bool IsFrameMarker(unsigned marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}
// A progressive frame's: C2, C6, CA, CE.
inline bool IsProgressiveFrame(unsigned marker) { return IsFrameMarker(marker) && (marker & 3) == 2; }
