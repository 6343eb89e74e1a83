// The fixture writer: tiny valid JPEG files with chosen EXIF entries in
// chosen IFDs, written through libexif's own API.
#pragma once

#include <libexif/exif-data.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct FixtureEntry {
  ExifIfd ifd;
  uint16_t tag;
  ExifFormat format;
  unsigned long components;
  std::string bytes; // the value as stored, big-endian
};

using Rational = std::pair<uint32_t, uint32_t>;

FixtureEntry Ascii(ExifIfd ifd, uint16_t tag, const std::string &text);
FixtureEntry Rationals(ExifIfd ifd, uint16_t tag,
                       const std::vector<Rational> &values);
FixtureEntry Undefined(ExifIfd ifd, uint16_t tag, const std::string &bytes);

// The usual GPS and capture-time entries of a camera.
struct GpsFix {
  std::string lat_ref = "N";
  std::vector<Rational> latitude{{51, 1}, {30, 1}, {1235, 100}};
  std::string lon_ref = "E";
  std::vector<Rational> longitude{{13, 1}, {24, 1}, {3600, 100}};
  bool with_altitude = true;
  Rational altitude{2450, 10};
  std::string time = "2016:07:04 12:34:56";
};
std::vector<FixtureEntry> GpsEntries(const GpsFix &fix);
// A camera's ordinary entries without GPS (Make, Model, DateTime...).
std::vector<FixtureEntry> CameraEntries();

// A JPEG (SOI, APP1 with the EXIF block, a 1x1 grey image) holding entries.
// thumbnail_bytes > 0 adds an IFD 1 thumbnail of that size.
std::string MakeJpeg(const std::vector<FixtureEntry> &entries,
                     size_t thumbnail_bytes = 0);
// A JPEG with no EXIF block at all.
std::string PlainJpeg();

// Reverses the stored order of one IFD's entries in a saved JPEG (libexif
// sorts each IFD by tag when it saves).
bool ReverseStoredIfd(std::string &jpeg, ExifIfd ifd);

bool WriteFile(const std::string &path, const std::string &bytes);
