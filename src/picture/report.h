// The console reports of one picture.
#pragma once

#include "picture/georecord.h"

void PrintVerboseBlock(const char *path, const GeoRecord &record);
void PrintPositionLine(const char *path, const GeoRecord &record);
void PrintNoGeoTag(const char *path);
void PrintNotAJpeg(const char *path);

double LatitudeOf(const GeoRecord &record);
double LongitudeOf(const GeoRecord &record);
// Negative below sea level.
double AltitudeOf(const GeoRecord &record);
