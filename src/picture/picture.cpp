#include "picture/picture.h"

#include "maplink/commands.h"
#include "picture/exif_load.h"
#include "picture/harvest.h"
#include "picture/report.h"
#include "platform/console.h"
#include "platform/dos.h"

namespace {

void send_waypoint(const char *path, const GeoRecord &record) {
  if (record.geo_tag_found != 1) {
    PrintNoGeoTag(path);
    return;
  }
  Printf("%s: Send geo tags to vantora...\n", FilePart(path));
  SendWaypoint(LatitudeOf(record), LongitudeOf(record), record.capture_time);
}

void send_picture_position(const char *path, const GeoRecord &record) {
  if (record.geo_tag_found != 1) {
    PrintNoGeoTag(path);
    return;
  }
  Printf("%s: Send pic list to vantora...\n", FilePart(path));
  SendPicturePosition(LatitudeOf(record), LongitudeOf(record), path);
}

} // namespace

void InitGeoRecord(GeoRecord &record, int32_t verbose, int32_t position,
                   int32_t waypoint, int32_t piclist) {
  record = GeoRecord{};
  record.verbose = verbose;
  record.position = position;
  record.waypoint = waypoint;
  record.piclist = piclist;
  record.picture_number = 1;
}

void ProcessPicture(const char *path, GeoRecord &record, int fd) {
  CheckBreak();
  ExifHandle data = LoadExif(path, fd);
  if (!data) {
    PrintNotAJpeg(path);
    return;
  }
  ClearTagTexts(record);
  HarvestData(data.get(), record);
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

void ProcessUnreadable(const char *path, GeoRecord &) { PrintNotAJpeg(path); }
