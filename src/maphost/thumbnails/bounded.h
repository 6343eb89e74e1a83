// The thumbnails and whole pictures the host makes, each decoded in a child
// process of its own, limited in memory and time (platform/apart.h): a
// picture made to exhaust a decoder costs that child, never the host, and
// gets no thumbnail.
#pragma once

#include <string>

#include "maphost/thumbnails/shown.h"
#include "platform/apart.h"

// A decode's address space, processor seconds and seconds in all.
constexpr ApartLimits kDecodeLimits{1u << 30, 3, 5};

// Starts the decoding helper; call it before any thread starts. Without
// it, pictures are decoded in this process.
bool StartBoundedDecoding();
// The host is ending: decodes go on for a second more, then the one under
// way ends and those to come are refused, so an export ends in time with
// the thumbnails it has.
void EndBoundedDecoding();

// MakeThumbnail and ShowWhole, decoded apart.
std::string BoundedThumbnail(const std::string &file);
WholePicture BoundedWhole(std::string file);
