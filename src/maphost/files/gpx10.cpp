#include "maphost/files/gpx10.h"

#include <cstring>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <memory>

namespace {

constexpr const char *kGpx10 = kGpx10Namespace;
constexpr char kGpx11[] = "http://www.topografix.com/GPX/1/1";

// The children of a point, a route and a track, in GPX 1.1's order; "link"
// stands for GPX 1.0's url and urlname.
const char *const kPointOrder[] = {"ele", "time", "magvar", "geoidheight", "name", "cmt", "desc",
                                   "src", "link", "sym", "type", "fix", "sat", "hdop", "vdop",
                                   "pdop", "ageofdgpsdata", "dgpsid", nullptr};
const char *const kPathOrder[] = {"name", "cmt", "desc", "src", "link", "number", "type", nullptr};
// Kept in GPX 1.1's extensions, in their own namespace.
const char *const kNoLongerSchema[] = {"course", "speed", nullptr};

struct DocFree {
  void operator()(xmlDoc *doc) const { xmlFreeDoc(doc); }
};
struct XmlFree {
  void operator()(xmlChar *text) const { xmlFree(text); }
};

const xmlChar *x(const char *text) { return reinterpret_cast<const xmlChar *>(text); }

bool named(const xmlNode *node, const char *name) {
  return node->type == XML_ELEMENT_NODE && node->ns && xmlStrEqual(node->ns->href, x(kGpx10)) &&
         xmlStrEqual(node->name, x(name));
}

bool listed(const xmlNode *node, const char *const *names) {
  for (; *names; names++)
    if (named(node, *names))
      return true;
  return false;
}

std::string text_of(const xmlNode *node) {
  std::unique_ptr<xmlChar, XmlFree> text(xmlNodeGetContent(node));
  return text ? reinterpret_cast<const char *>(text.get()) : "";
}

const xmlNode *child(const xmlNode *parent, const char *name) {
  for (const xmlNode *node = parent->children; node; node = node->next)
    if (named(node, name))
      return node;
  return nullptr;
}

// GPX 1.0's url and urlname as a GPX 1.1 link.
void add_link(const xmlNode *from, xmlNode *to, xmlNs *ns) {
  const xmlNode *url = child(from, "url"), *urlname = child(from, "urlname");
  if (!url)
    return;
  xmlNode *link = xmlNewChild(to, ns, x("link"), nullptr);
  xmlNewProp(link, x("href"), x(text_of(url).c_str()));
  if (urlname)
    xmlNewTextChild(link, ns, x("text"), x(text_of(urlname).c_str()));
}

// Elements GPX 1.1 has no place for, and others' elements, as extensions.
void add_extensions(const xmlNode *from, xmlNode *to, xmlNs *ns) {
  xmlNode *extensions = nullptr;
  for (const xmlNode *node = from->children; node; node = node->next) {
    bool foreign = node->type == XML_ELEMENT_NODE && !(node->ns && xmlStrEqual(node->ns->href, x(kGpx10)));
    if (!foreign && !listed(node, kNoLongerSchema))
      continue;
    if (!extensions)
      extensions = xmlNewChild(to, ns, x("extensions"), nullptr);
    xmlAddChild(extensions, xmlDocCopyNode(const_cast<xmlNode *>(node), to->doc, 1));
  }
}

// An element's simple children in order, then its extensions.
void convert_children(const xmlNode *from, xmlNode *to, xmlNs *ns, const char *const *order) {
  for (const char *const *name = order; *name; name++) {
    if (strcmp(*name, "link") == 0) {
      add_link(from, to, ns);
      continue;
    }
    for (const xmlNode *node = from->children; node; node = node->next)
      if (named(node, *name))
        xmlNewTextChild(to, ns, x(*name), x(text_of(node).c_str()));
  }
  add_extensions(from, to, ns);
}

void convert_point(const xmlNode *from, xmlNode *parent, xmlNs *ns) {
  xmlNode *to = xmlNewChild(parent, ns, from->name, nullptr);
  for (const char *coordinate : {"lat", "lon"}) {
    std::unique_ptr<xmlChar, XmlFree> value(xmlGetProp(from, x(coordinate)));
    if (value)
      xmlNewProp(to, x(coordinate), value.get());
  }
  convert_children(from, to, ns, kPointOrder);
}

// A route with its points, or a track with its segments and theirs.
void convert_path(const xmlNode *from, xmlNode *parent, xmlNs *ns) {
  xmlNode *to = xmlNewChild(parent, ns, from->name, nullptr);
  convert_children(from, to, ns, kPathOrder);
  for (const xmlNode *node = from->children; node; node = node->next) {
    if (named(node, "rtept")) {
      convert_point(node, to, ns);
    } else if (named(node, "trkseg")) {
      xmlNode *segment = xmlNewChild(to, ns, x("trkseg"), nullptr);
      for (const xmlNode *point = node->children; point; point = point->next)
        if (named(point, "trkpt"))
          convert_point(point, segment, ns);
    }
  }
}

void convert_metadata(const xmlNode *gpx, xmlNode *root, xmlNs *ns) {
  const char *const kFields[] = {"name", "desc", "author", "email", "url", "time", "keywords", "bounds"};
  bool any = false;
  for (const char *field : kFields)
    any |= child(gpx, field) != nullptr;
  if (!any)
    return;
  xmlNode *metadata = xmlNewChild(root, ns, x("metadata"), nullptr);
  for (const char *field : {"name", "desc"})
    if (const xmlNode *node = child(gpx, field))
      xmlNewTextChild(metadata, ns, x(field), x(text_of(node).c_str()));
  const xmlNode *author = child(gpx, "author"), *email = child(gpx, "email");
  if (author || email) {
    xmlNode *person = xmlNewChild(metadata, ns, x("author"), nullptr);
    if (author)
      xmlNewTextChild(person, ns, x("name"), x(text_of(author).c_str()));
    std::string address = email ? text_of(email) : "";
    size_t at = address.find('@');
    if (at != std::string::npos) {
      xmlNode *parts = xmlNewChild(person, ns, x("email"), nullptr);
      xmlNewProp(parts, x("id"), x(address.substr(0, at).c_str()));
      xmlNewProp(parts, x("domain"), x(address.substr(at + 1).c_str()));
    }
  }
  add_link(gpx, metadata, ns);
  for (const char *field : {"time", "keywords"})
    if (const xmlNode *node = child(gpx, field))
      xmlNewTextChild(metadata, ns, x(field), x(text_of(node).c_str()));
  if (const xmlNode *bounds = child(gpx, "bounds")) {
    xmlNode *copy = xmlNewChild(metadata, ns, x("bounds"), nullptr);
    for (const char *edge : {"minlat", "minlon", "maxlat", "maxlon"}) {
      std::unique_ptr<xmlChar, XmlFree> value(xmlGetProp(bounds, x(edge)));
      if (value)
        xmlNewProp(copy, x(edge), value.get());
    }
  }
}

} // namespace

bool ConvertGpx10(const std::string &contents, std::string &converted) {
  std::unique_ptr<xmlDoc, DocFree> old(xmlReadMemory(
      contents.data(), static_cast<int>(contents.size()), nullptr, nullptr,
      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  const xmlNode *gpx = old ? xmlDocGetRootElement(old.get()) : nullptr;
  if (!gpx || !named(gpx, "gpx") || old->intSubset)
    return false;
  std::unique_ptr<xmlDoc, DocFree> doc(xmlNewDoc(x("1.0")));
  xmlNode *root = xmlNewDocNode(doc.get(), nullptr, x("gpx"), nullptr);
  xmlDocSetRootElement(doc.get(), root);
  xmlNs *ns = xmlNewNs(root, x(kGpx11), nullptr);
  xmlSetNs(root, ns); // the root's attributes are the writer's own
  convert_metadata(gpx, root, ns);
  for (const char *kind : {"wpt", "rte", "trk"})
    for (const xmlNode *node = gpx->children; node; node = node->next)
      if (named(node, kind))
        strcmp(kind, "wpt") == 0 ? convert_point(node, root, ns) : convert_path(node, root, ns);
  add_extensions(gpx, root, ns);
  xmlChar *bytes = nullptr;
  int length = 0;
  xmlDocDumpFormatMemoryEnc(doc.get(), &bytes, &length, "UTF-8", 1);
  std::unique_ptr<xmlChar, XmlFree> owned(bytes);
  converted.assign(reinterpret_cast<const char *>(bytes), static_cast<size_t>(length));
  return bytes != nullptr;
}
