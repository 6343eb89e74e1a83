// GPX 1.0 documents, continued as GPX 1.1: every field kept, element by
// element, in GPX 1.1's places (url and urlname as a link, the header's
// fields as metadata); what GPX 1.1 has no place for (course, speed, and
// others' elements) in its extensions.
#pragma once

#include <string>

constexpr char kGpx10Namespace[] = "http://www.topografix.com/GPX/1/0";

// The GPX 1.1 document of a GPX 1.0 one; false when contents is no GPX 1.0
// document, or has a document type.
bool ConvertGpx10(const std::string &contents, std::string &converted);
