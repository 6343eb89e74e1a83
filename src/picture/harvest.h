// The harvest: the texts of six tags, matched by number in any IFD, copied
// into the GeoRecord.
#pragma once

#include <libexif/exif-data.h>

#include "picture/georecord.h"

void HarvestEntry(ExifEntry *entry, GeoRecord &record);
// Whether the GPS IFD's altitude reference (tag 5) puts the altitude below
// sea level: a BYTE 1.
bool MarksBelowSeaLevel(const ExifEntry *reference);
// Every entry of every IFD, in libexif's IFD order and stored entry order.
void HarvestData(ExifData *data, GeoRecord &record);
