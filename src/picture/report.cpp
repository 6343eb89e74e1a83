#include "picture/report.h"

#include "picture/degrees.h"
#include "platform/console.h"
#include "platform/dos.h"

double LatitudeOf(const GeoRecord &record) {
  return DegreesFromText(record.latitude, record.lat_ref_kept);
}

double LongitudeOf(const GeoRecord &record) {
  return DegreesFromText(record.longitude, record.lon_ref);
}

double AltitudeOf(const GeoRecord &record) {
  double altitude = AltitudeFromText(record.altitude);
  // Zero stays 0, never -0.
  return record.below_sea_level && altitude != 0.0 ? -altitude : altitude;
}

void PrintVerboseBlock(const char *path, const GeoRecord &record) {
  Printf("------------------ %d. ------------------------\n",
         record.picture_number);
  if (record.geo_tag_found == 1)
    Printf("Picture: %s\nLatitude: %s , %s\nLongitude: %s , %s\nAltitude: "
           "%s\nTime: %s\n",
           path, record.latitude, record.lat_ref_kept, record.longitude,
           record.lon_ref, record.altitude, record.capture_time);
  else
    Printf("Picture: %s\nNo geo tag found!\n", path);
  Printf("----------------------------------------------\n");
}

void PrintPositionLine(const char *path, const GeoRecord &record) {
  if (record.geo_tag_found != 1) {
    PrintNoGeoTag(path);
    return;
  }
  Printf("%s - lat = %g -  lon = %g - alt = %g\n", FilePart(path),
         LatitudeOf(record), LongitudeOf(record),
         AltitudeOf(record));
}

void PrintNoGeoTag(const char *path) {
  Printf("%s - No geo tag found!\n", FilePart(path));
}

void PrintNotAJpeg(const char *path) { Printf("Picture %s is not a JPEG!\n", path); }
