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
           Shown(path).c_str(), Shown(record.latitude).c_str(), Shown(record.lat_ref_kept).c_str(),
           Shown(record.longitude).c_str(), Shown(record.lon_ref).c_str(),
           Shown(record.altitude).c_str(), Shown(record.capture_time).c_str());
  else
    Printf("Picture: %s\nNo geo tag found!\n", Shown(path).c_str());
  Printf("----------------------------------------------\n");
}

void PrintPositionLine(const char *path, const GeoRecord &record) {
  if (record.geo_tag_found != 1) {
    PrintNoGeoTag(path);
    return;
  }
  Printf("%s - lat = %g -  lon = %g - alt = %g\n", Shown(FilePart(path)).c_str(),
         LatitudeOf(record), LongitudeOf(record),
         AltitudeOf(record));
}

void PrintNoGeoTag(const char *path) {
  Printf("%s - No geo tag found!\n", Shown(FilePart(path)).c_str());
}

void PrintNotAJpeg(const char *path) { Printf("Picture %s is not a JPEG!\n", Shown(path).c_str()); }
