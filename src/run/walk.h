// The depth-first walk of DIR, in the order the file system yields entries.
#pragma once

#include "picture/georecord.h"

constexpr int kDeepestLevel = 8; // DIR is level 0

// Hands every file under path, down to kDeepestLevel, to the survey, and
// returns once each is reported. When path names a file, that file alone.
void WalkTree(const char *path, GeoRecord &record);
