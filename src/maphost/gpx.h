// A GPX 1.1 document of the waypoints the map host received.
#pragma once

#include <string>
#include <string_view>

struct GpxDocument {
  std::string waypoints; // the rendered <wpt> elements, in arrival order
};

void AddWaypoint(GpxDocument &document, const std::string &latitude,
                 const std::string &longitude, std::string_view name);
// A picture: named by its file name, linked by a file:// URI of its path
// (made absolute against the working directory).
void AddPicture(GpxDocument &document, const std::string &latitude,
                const std::string &longitude, const std::string &path);
std::string RenderGpx(const GpxDocument &document);

// Text for XML: markup escaped, control characters and bytes that are not
// UTF-8 replaced by U+FFFD.
std::string XmlText(std::string_view text);
// file:// URI of an absolute path; every byte but unreserved ones and "/"
// percent-encoded.
std::string FileUri(std::string_view absolute_path);

// Writes a temporary file beside path and renames it over path, so readers
// see the old or the new document, never a part.
bool WriteFileAtomically(const std::string &path, const std::string &contents,
                         std::string *why);
