// The harvest: the texts of six tags, matched by number in any IFD, copied
// into the GeoRecord.
#pragma once

#include <libexif/exif-data.h>

#include "picture/georecord.h"

void HarvestEntry(ExifEntry *entry, GeoRecord &record);
// Every entry of every IFD, in libexif's IFD order and stored entry order.
void HarvestData(ExifData *data, GeoRecord &record);
