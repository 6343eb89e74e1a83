#include "picture/picture.h"

#include "maplink/commands.h"
#include "picture/exif_load.h"
#include "picture/harvest.h"
#include "picture/report.h"
#include "platform/console.h"
#include "platform/dos.h"

namespace {

// A command the map refused or left unanswered is said on standard error,
// naming the picture's path, and the run ends with kRunWarned; one that
// found no map is counted, for the run's end to say.
void check_answer(const MapAnswer &answer, const char *what, const char *path,
                  GeoRecord &record) {
  if (answer.kind == MapAnswer::Refused)
    PrintError("%s: the map refused the %s (code %d)\n", ShownOnError(path).c_str(), what, answer.code);
  else if (answer.kind == MapAnswer::NoAnswer)
    PrintError("%s: no answer from the map\n", ShownOnError(path).c_str());
  else if (answer.kind == MapAnswer::NoPort)
    record.commands_without_map++;
  else
    return;
  record.run_code = kRunWarned;
}

void send_waypoint(const char *path, GeoRecord &record) {
  if (record.geo_tag_found != 1) {
    PrintNoGeoTag(path);
    return;
  }
  Printf("%s: Send geo tags to vantora...\n", Shown(FilePart(path)).c_str());
  check_answer(SendWaypoint(LatitudeOf(record), LongitudeOf(record), record.capture_time),
               "waypoint", path, record);
}

void send_picture_position(const char *path, GeoRecord &record) {
  if (record.geo_tag_found != 1) {
    PrintNoGeoTag(path);
    return;
  }
  Printf("%s: Send pic list to vantora...\n", Shown(FilePart(path)).c_str());
  check_answer(SendPicturePosition(LatitudeOf(record), LongitudeOf(record), path),
               "picture position", path, record);
}

// The harvest's texts and flags into the run's record.
void take_tags(GeoRecord &record, const GeoRecord &tags) {
  CopyField(record.lat_ref_kept, tags.lat_ref_kept);
  CopyField(record.lat_ref_latest, tags.lat_ref_latest);
  CopyField(record.lon_ref, tags.lon_ref);
  CopyField(record.latitude, tags.latitude);
  CopyField(record.longitude, tags.longitude);
  CopyField(record.altitude, tags.altitude);
  CopyField(record.capture_time, tags.capture_time);
  record.latitude_met = tags.latitude_met;
  record.geo_tag_found = tags.geo_tag_found;
  record.below_sea_level = tags.below_sea_level;
}

} // namespace

void InitGeoRecord(GeoRecord &record, int32_t verbose, int32_t position,
                   int32_t waypoint, int32_t piclist, int32_t all_formats) {
  record = GeoRecord{};
  record.verbose = verbose;
  record.position = position;
  record.waypoint = waypoint;
  record.piclist = piclist;
  record.all_formats = all_formats;
  record.picture_number = 1;
}

void ReadPicture(const char *path, int fd, bool all_formats, PictureTags &read) {
  ExifHandle data = LoadExif(path, fd, all_formats);
  read.loaded = data != nullptr;
  ClearTagTexts(read.tags);
  read.tags.latitude_met = read.tags.geo_tag_found = 0;
  if (data)
    HarvestData(data.get(), read.tags);
}

void ReportPicture(const char *path, const PictureTags &read, GeoRecord &record) {
  if (!read.loaded) {
    PrintNotAJpeg(path);
    return;
  }
  take_tags(record, read.tags);
  if (SwitchSet(record.verbose))
    PrintVerboseBlock(path, record);
  if (SwitchSet(record.position))
    PrintPositionLine(path, record);
  if (SwitchSet(record.waypoint))
    send_waypoint(path, record);
  if (SwitchSet(record.piclist))
    send_picture_position(path, record);
  record.geo_tag_found = 0;
  record.latitude_met = 0;
  record.picture_number++;
}

void ProcessPicture(const char *path, GeoRecord &record, int fd) {
  CheckBreak();
  PictureTags read;
  ReadPicture(path, fd, SwitchSet(record.all_formats), read);
  ReportPicture(path, read, record);
}

void ProcessUnreadable(const char *path, GeoRecord &) { PrintNotAJpeg(path); }
