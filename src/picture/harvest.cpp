#include "picture/harvest.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr unsigned kLatitudeRef = 0x0001;
constexpr unsigned kLatitude = 0x0002;
constexpr unsigned kLongitudeRef = 0x0003;
constexpr unsigned kLongitude = 0x0004;
constexpr unsigned kAltitudeRef = 0x0005;
constexpr unsigned kAltitude = 0x0006;
constexpr unsigned kDateTimeOriginal = 0x9003;

// The entry's text as libexif formats it.
const char *entry_text(ExifEntry *entry, char (&scratch)[2000]) {
  scratch[0] = '\0';
  exif_entry_get_value(entry, scratch, sizeof scratch);
  return scratch;
}

// Only the picture's first latitude counts, and only when it holds a comma.
void harvest_latitude(ExifEntry *entry, GeoRecord &record,
                      char (&scratch)[2000]) {
  char test[50] = {};
  CopyField(test, entry_text(entry, scratch));
  record.geo_tag_found = strchr(test, ',') ? 1 : 0;
  if (record.geo_tag_found) {
    CopyField(record.latitude, scratch);
    CopyField(record.lat_ref_kept, record.lat_ref_latest);
  }
  record.latitude_met = 1;
}

void harvest_altitude_ref(ExifEntry *entry, GeoRecord &record) {
  if (entry->parent && exif_content_get_ifd(entry->parent) == EXIF_IFD_GPS &&
      entry->format == EXIF_FORMAT_BYTE && entry->size >= 1 && entry->data)
    record.below_sea_level = MarksBelowSeaLevel(entry);
}

struct OverwrittenTag {
  unsigned tag;
  size_t offset; // of the field in the GeoRecord
  size_t width;
};

#define FIELD(member) offsetof(GeoRecord, member), sizeof(GeoRecord::member)

// Tags whose every entry overwrites its field.
const OverwrittenTag kOverwrittenTags[] = {
    {kLongitude, FIELD(longitude)},
    {kAltitude, FIELD(altitude)},
    {kDateTimeOriginal, FIELD(capture_time)},
    {kLatitudeRef, FIELD(lat_ref_latest)},
    {kLongitudeRef, FIELD(lon_ref)},
};

void harvest_callback(ExifEntry *entry, void *user_data) {
  HarvestEntry(entry, *static_cast<GeoRecord *>(user_data));
}

void content_callback(ExifContent *content, void *user_data) {
  exif_content_foreach_entry(content, harvest_callback, user_data);
}

} // namespace

bool MarksBelowSeaLevel(const ExifEntry *reference) {
  return reference && reference->tag == kAltitudeRef && reference->format == EXIF_FORMAT_BYTE &&
         reference->size >= 1 && reference->data && reference->data[0] == 1;
}

void HarvestEntry(ExifEntry *entry, GeoRecord &record) {
  char scratch[2000];
  if (entry->tag == kLatitude && !record.latitude_met)
    harvest_latitude(entry, record, scratch);
  if (entry->tag == kAltitudeRef)
    harvest_altitude_ref(entry, record);
  for (const OverwrittenTag &rule : kOverwrittenTags) {
    if (entry->tag != rule.tag)
      continue;
    char *field = reinterpret_cast<char *>(&record) + rule.offset;
    entry_text(entry, scratch);
    size_t length = strnlen(scratch, rule.width - 1);
    memcpy(field, scratch, length);
    field[length] = '\0';
  }
}

void HarvestData(ExifData *data, GeoRecord &record) {
  exif_data_foreach_content(data, content_callback, &record);
  // A latitude without a longitude is no position: it would put the
  // picture on the meridian.
  if (record.geo_tag_found && !strchr(record.longitude, ','))
    record.geo_tag_found = 0;
}
