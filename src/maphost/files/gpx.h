// The GPX 1.1 document of what the map host keeps, written and read with
// libxml2.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "maphost/store/store.h"

// The GPX document of the positions each(visit) visits, in order, written
// to fd as it is made: a waypoint per position, a picture's with a link to
// its file. head and tail, a continued file's other elements, go before
// and after. False when it could not be written whole.
bool WriteGpx(int fd, const PositionFeed &each, const std::string &head = "", const std::string &tail = "");

// An EXIF capture time, "2016:07:04 12:34:56", as GPX gives one
// ("2016-07-04T12:34:56", local time as the camera kept it); empty for
// anything else a waypoint's name may be.
std::string GpxTime(const std::string &taken);

enum class GpxLoad { Loaded = 1, Missing, NotGpx }; // from 1: one made by default is no answer
// A continued GPX file's other elements, as they stood: its metadata
// before the waypoints, its routes, tracks and extensions after them.
struct GpxFrame {
  std::string head, tail;
};
// Reads the waypoints of an existing GPX document (the contents of file
// name) into store, each kept as it stood, and its other elements into
// frame. Missing for an empty file; NotGpx, with the reason, when it is
// anything but a GPX document, one with a document type, whose entities
// could not be written back, or one with an element of more attributes
// than any GPX needs.
GpxLoad LoadGpx(const std::string &contents, const std::string &name, Store &store,
                std::string *why, GpxFrame *frame = nullptr);

// Text for XML: control characters and bytes that are not UTF-8 replaced
// by U+FFFD.
std::string XmlChars(std::string_view text);
// file:// URI of an absolute path; every byte but unreserved ones and "/"
// percent-encoded.
std::string FileUri(std::string_view absolute_path);
// The absolute path of a file:// URI; empty for other links.
std::string PathOfFileUri(std::string_view uri);
