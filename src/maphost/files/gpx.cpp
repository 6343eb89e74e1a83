#include "maphost/files/gpx.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <libxml/chvalid.h>
#include <libxml/xmlreader.h>
#include <libxml/xmlwriter.h>
#include <memory>

#include "maphost/files/gpx10.h"
#include "maphost/store/capture_time.h"

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD
constexpr char kNamespace[] = "http://www.topografix.com/GPX/1/1";
constexpr size_t kMostAttributes = 1000; // on one element

const xmlChar *x(const char *text) { return reinterpret_cast<const xmlChar *>(text); }

struct WriterFree {
  void operator()(xmlTextWriter *writer) const { xmlFreeTextWriter(writer); }
};
struct ReaderFree {
  void operator()(xmlTextReader *reader) const { xmlFreeTextReader(reader); }
};
struct XmlStringFree {
  void operator()(xmlChar *text) const { xmlFree(text); }
};
using XmlString = std::unique_ptr<xmlChar, XmlStringFree>;

int hex_digit(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string text_of(XmlString value) {
  return value ? reinterpret_cast<const char *>(value.get()) : "";
}

// The link's media type, from the file name; none for the raw formats.
const char *media_type(const std::string &name) {
  static const char *const kTypes[][2] = {
      {".jpg", "image/jpeg"}, {".jpeg", "image/jpeg"}, {".heic", "image/heic"},
      {".heif", "image/heif"}, {".avif", "image/avif"}, {".png", "image/png"},
      {".webp", "image/webp"}, {".tif", "image/tiff"}, {".tiff", "image/tiff"}};
  size_t dot = name.rfind('.');
  if (dot == std::string::npos)
    return nullptr;
  std::string extension = name.substr(dot);
  for (char &c : extension)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  for (const auto &type : kTypes)
    if (extension == type[0])
      return type[1];
  return nullptr;
}

// Whether an EXIF time is a real moment a GPX time can hold: XML Schema has
// no year 0.
bool is_time(const std::string &taken) {
  return CaptureSeconds(taken) && taken.compare(0, 4, "0000") != 0;
}

// The same time with other separators.
std::string separated(std::string time, char date, char between) {
  time[4] = time[7] = date;
  time[10] = between;
  return time;
}

// A GPX time back as the EXIF time it was; empty for anything else.
std::string exif_time(std::string iso) {
  if (iso.size() == 20 && iso.back() == 'Z') // another program's, in UTC
    iso.pop_back();
  if (iso.size() != 19 || iso[4] != '-' || iso[7] != '-' || iso[10] != 'T')
    return "";
  std::string taken = separated(iso, ':', ' ');
  return is_time(taken) ? taken : "";
}

void write_position(xmlTextWriter *w, const Position &p) {
  if (!p.raw.empty()) {
    xmlTextWriterWriteRaw(w, x(p.raw.c_str()));
    return;
  }
  xmlTextWriterStartElement(w, x("wpt"));
  xmlTextWriterWriteAttribute(w, x("lat"), x(XmlChars(p.latitude).c_str()));
  xmlTextWriterWriteAttribute(w, x("lon"), x(XmlChars(p.longitude).c_str()));
  if (std::string time = p.picture ? GpxTime(p.taken) : ""; !time.empty())
    xmlTextWriterWriteElement(w, x("time"), x(time.c_str()));
  if (!p.name.empty())
    xmlTextWriterWriteElement(w, x("name"), x(XmlChars(p.name).c_str()));
  if (p.picture) {
    xmlTextWriterStartElement(w, x("link"));
    xmlTextWriterWriteAttribute(w, x("href"), x(XmlChars(p.href).c_str()));
    if (const char *type = media_type(p.name))
      xmlTextWriterWriteElement(w, x("type"), x(type));
    xmlTextWriterEndElement(w);
  }
  xmlTextWriterEndElement(w);
}

// The element the reader stands on as it stood, less the GPX 1.1 namespace
// its copy repeats.
std::string outer_xml(xmlTextReader *reader) {
  std::string xml = text_of(XmlString(xmlTextReaderReadOuterXml(reader)));
  std::string repeated = std::string(" xmlns=\"") + kNamespace + "\"";
  size_t at = xml.find(repeated);
  if (at != std::string::npos && at < xml.find('>'))
    xml.erase(at, repeated.size());
  return xml;
}

// A wpt element the reader stands on, into a position kept as it stood.
Position read_waypoint(xmlTextReader *reader) {
  Position position;
  position.latitude = text_of(XmlString(xmlTextReaderGetAttribute(reader, x("lat"))));
  position.longitude = text_of(XmlString(xmlTextReaderGetAttribute(reader, x("lon"))));
  if (text_of(XmlString(xmlTextReaderNamespaceUri(reader))) == kNamespace)
    position.raw = outer_xml(reader); // else rewritten as GPX 1.1
  int depth = xmlTextReaderDepth(reader);
  if (xmlTextReaderIsEmptyElement(reader))
    return position;
  std::string time; // a picture's own, when no waypoint gives it
  while (xmlTextReaderRead(reader) == 1 && xmlTextReaderDepth(reader) > depth) {
    if (xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT ||
        xmlTextReaderDepth(reader) != depth + 1)
      continue;
    std::string element = text_of(XmlString(xmlTextReaderLocalName(reader)));
    if (element == "name")
      position.name = text_of(XmlString(xmlTextReaderReadString(reader)));
    if (element == "time")
      time = text_of(XmlString(xmlTextReaderReadString(reader)));
    if (element == "link" && !position.picture) {
      position.picture = true;
      position.href = text_of(XmlString(xmlTextReaderGetAttribute(reader, x("href"))));
      position.path = PathOfFileUri(position.href);
    }
  }
  if (position.picture)
    position.taken = exif_time(time);
  return position;
}

// The most attributes one start tag of xml has, counted before libxml2
// reads it: its check for duplicates takes time squared in their number.
// Comments, CDATA, processing instructions and declarations hold none.
size_t most_attributes(std::string_view xml) {
  size_t most = 0;
  for (size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1)) {
    std::string_view rest = xml.substr(at);
    if (rest.starts_with("<!--") || rest.starts_with("<![CDATA[") || rest.starts_with("<?")) {
      const char *end = rest[1] == '?' ? "?>" : rest[2] == '-' ? "-->" : "]]>";
      at = std::min(xml.size() - 1, xml.find(end, at + 2));
      continue;
    }
    size_t count = 0;
    char quote = 0;
    for (at++; at < xml.size() && (quote || xml[at] != '>'); at++) {
      if (quote ? xml[at] == quote : xml[at] == '"' || xml[at] == '\'')
        quote = quote ? 0 : xml[at];
      count += !quote && xml[at] == '=';
    }
    most = std::max(most, count);
  }
  return most;
}

} // namespace

std::string GpxTime(const std::string &taken) {
  return is_time(taken) ? separated(taken, '-', 'T') : "";
}

std::string XmlChars(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    int length = static_cast<int>(std::min<size_t>(text.size() - at, 4));
    int c = xmlGetUTF8Char(reinterpret_cast<const unsigned char *>(text.data() + at), &length);
    if (c < 0 || c == 0x7F || !xmlIsCharQ(c)) {
      out += kReplacement;
      at += 1;
      continue;
    }
    out.append(text.substr(at, static_cast<size_t>(length)));
    at += static_cast<size_t>(length);
  }
  return out;
}

std::string FileUri(std::string_view absolute_path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (char c : absolute_path) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (isalnum(byte) || (c != '\0' && strchr("-._~/", c))) {
      uri.push_back(c);
    } else {
      uri.push_back('%');
      uri.push_back(hex[byte >> 4]);
      uri.push_back(hex[byte & 0xF]);
    }
  }
  return uri;
}

std::string PathOfFileUri(std::string_view uri) {
  if (uri.substr(0, 8) != "file:///")
    return "";
  std::string path;
  for (size_t at = 7; at < uri.size(); at++) {
    int high = at + 2 < uri.size() ? hex_digit(uri[at + 1]) : -1;
    int low = high >= 0 ? hex_digit(uri[at + 2]) : -1;
    if (uri[at] == '%' && low >= 0) {
      path.push_back(static_cast<char>(high << 4 | low));
      at += 2;
    } else {
      path.push_back(uri[at]);
    }
  }
  return path;
}

bool WriteGpx(int fd, const PositionFeed &each, const std::string &head, const std::string &tail) {
  xmlOutputBuffer *out = xmlOutputBufferCreateFd(fd, nullptr);
  std::unique_ptr<xmlTextWriter, WriterFree> writer(out ? xmlNewTextWriter(out) : nullptr); // it owns out
  if (!writer) {
    xmlOutputBufferClose(out);
    return false;
  }
  xmlTextWriter *w = writer.get();
  xmlTextWriterSetIndent(w, 1);
  xmlTextWriterSetIndentString(w, x("  "));
  xmlTextWriterStartDocument(w, "1.0", "UTF-8", nullptr);
  xmlTextWriterStartElement(w, x("gpx"));
  xmlTextWriterWriteAttribute(w, x("version"), x("1.1"));
  xmlTextWriterWriteAttribute(w, x("creator"), x("pintrail-maphost"));
  xmlTextWriterWriteAttribute(w, x("xmlns"), x(kNamespace));
  if (!head.empty())
    xmlTextWriterWriteRaw(w, x(head.c_str()));
  each([w](const Position &position) { write_position(w, position); });
  if (!tail.empty())
    xmlTextWriterWriteRaw(w, x(tail.c_str()));
  // A write that failed on the way fails the end and the flush too.
  return xmlTextWriterEndDocument(w) >= 0 && xmlTextWriterFlush(w) >= 0;
}

namespace {

using Reader = std::unique_ptr<xmlTextReader, ReaderFree>;

// A reader at the document's root element; none, with the reason in why
// when it is worth telling, when there is none.
Reader root_of(const std::string &contents, const std::string &name, std::string *why) {
  Reader reader(xmlReaderForMemory(contents.data(), static_cast<int>(contents.size()), nullptr, nullptr,
                                   XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!reader || xmlTextReaderRead(reader.get()) != 1)
    return nullptr;
  while (xmlTextReaderNodeType(reader.get()) != XML_READER_TYPE_ELEMENT) {
    if (xmlTextReaderNodeType(reader.get()) == XML_READER_TYPE_DOCUMENT_TYPE) {
      *why = name + " has a document type, whose entities this host does not write back";
      return nullptr;
    }
    if (xmlTextReaderRead(reader.get()) != 1)
      return nullptr;
  }
  return reader;
}

// Reads the root's children: each waypoint given to keep when there is
// one, the other elements kept whole in GPX's order, metadata first, the
// rest after the waypoints. False when the document is not well-formed.
bool read_children(xmlTextReader *r, Store *keep, std::string &head, std::string &tail) {
  int got = xmlTextReaderRead(r);
  while (got == 1) {
    if (xmlTextReaderNodeType(r) != XML_READER_TYPE_ELEMENT || xmlTextReaderDepth(r) != 1) {
      got = xmlTextReaderRead(r);
      continue;
    }
    std::string element = text_of(XmlString(xmlTextReaderLocalName(r)));
    if (element == "wpt") {
      if (keep)
        KeepPosition(*keep, read_waypoint(r), true);
      got = xmlTextReaderRead(r);
    } else {
      (element == "metadata" ? head : tail) += outer_xml(r);
      got = xmlTextReaderNext(r);
    }
  }
  return got == 0;
}

} // namespace

GpxLoad LoadGpx(const std::string &contents, const std::string &name, Store &store,
                std::string *why, GpxFrame *frame) {
  if (contents.empty())
    return GpxLoad::Missing;
  *why = name + " is not a GPX document";
  if (contents.size() > INT_MAX)
    return GpxLoad::NotGpx;
  if (most_attributes(contents) > kMostAttributes) {
    *why = name + " has an element with more than " + std::to_string(kMostAttributes) + " attributes";
    return GpxLoad::NotGpx;
  }
  Reader reader = root_of(contents, name, why);
  if (!reader || text_of(XmlString(xmlTextReaderLocalName(reader.get()))) != "gpx")
    return GpxLoad::NotGpx;
  std::string converted; // GPX 1.0, continued as the GPX 1.1 of the same fields
  if (text_of(XmlString(xmlTextReaderNamespaceUri(reader.get()))) == kGpx10Namespace)
    return ConvertGpx10(contents, converted) ? LoadGpx(converted, name, store, why, frame) : GpxLoad::NotGpx;
  // Read through once to know it well-formed, then again keeping each
  // waypoint as it comes: a document that is not keeps nothing, and a
  // large one is never held in memory as positions.
  std::string head, tail;
  if (!read_children(reader.get(), nullptr, head, tail))
    return GpxLoad::NotGpx;
  reader = root_of(contents, name, why);
  head.clear(), tail.clear();
  if (!reader || !read_children(reader.get(), &store, head, tail))
    return GpxLoad::NotGpx;
  if (frame)
    *frame = GpxFrame{head, tail};
  return GpxLoad::Loaded;
}
