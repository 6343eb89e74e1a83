// The one record of a run: the four switches, the picture number, the
// per-picture flags and the harvested tag texts.
#pragma once

#include <cstdint>
#include <cstring>

struct GeoRecord {
  char lat_ref_kept[10];   // latitude reference in force when latitude was taken
  char lat_ref_latest[10]; // last tag 1 text
  char lon_ref[10];        // last tag 3 text
  char latitude[50];       // first tag 2 text, when it holds a comma
  char longitude[50];      // last tag 4 text
  char altitude[50];       // last tag 6 text
  char capture_time[50];   // last tag 0x9003 text
  int32_t verbose;         // switches: set when negative
  int32_t position;
  int32_t picture_number;  // number of the next picture with EXIF data
  int32_t latitude_met;    // the picture's first tag 2 entry has been met
  int32_t geo_tag_found;
  int32_t waypoint;
  int32_t piclist;
  int32_t below_sea_level; // the GPS IFD's altitude reference is 1
  int32_t all_formats;     // switch: read every picture format, not only JPEG
  int32_t run_code;        // the run's return code so far: 0, or kRunWarned
  int32_t commands_without_map; // commands that found no map port
};

// The return codes: all well; something was refused or unreadable but the
// run went on to its end; it could not run.
constexpr int32_t kRunWarned = 5;
constexpr int32_t kRunFailed = 10;

// Copies text into a fixed field, cut to the field's width less the
// terminator.
template <size_t N> void CopyField(char (&field)[N], const char *text) {
  size_t length = strnlen(text, N - 1);
  memcpy(field, text, length);
  field[length] = '\0';
}

// Empties the seven tag texts and the altitude reference, so no picture
// reports another one's tags.
inline void ClearTagTexts(GeoRecord &record) {
  record.below_sea_level = 0;
  record.lat_ref_kept[0] = record.lat_ref_latest[0] = record.lon_ref[0] = '\0';
  record.latitude[0] = record.longitude[0] = '\0';
  record.altitude[0] = record.capture_time[0] = '\0';
}

inline bool SwitchSet(int32_t value) { return value < 0; }
