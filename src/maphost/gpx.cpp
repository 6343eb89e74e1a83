#include "maphost/gpx.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD"; // U+FFFD

// Length of the valid UTF-8 sequence at text[at], or 0.
size_t utf8_length(std::string_view text, size_t at) {
  unsigned char lead = static_cast<unsigned char>(text[at]);
  size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                  : lead >= 0xE0 && lead <= 0xEF                ? 3
                  : lead >= 0xF0 && lead <= 0xF4               ? 4
                                                                : 0;
  if (length == 0 || at + length > text.size())
    return 0;
  for (size_t i = 1; i < length; ++i)
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80)
      return 0;
  unsigned char second = static_cast<unsigned char>(text[at + 1]);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
      (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
    return 0; // overlong, surrogate or beyond U+10FFFF
  return length;
}

const char *markup_escape(char c) {
  switch (c) {
  case '&': return "&amp;";
  case '<': return "&lt;";
  case '>': return "&gt;";
  case '"': return "&quot;";
  default: return nullptr;
  }
}

// The path as sent, made absolute; links are left as they are.
std::string absolute_path(const std::string &path) {
  if (!path.empty() && path[0] == '/')
    return path;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd))
    return "/" + path;
  return std::string(cwd) + "/" + path;
}

void open_waypoint(GpxDocument &document, const std::string &latitude,
                   const std::string &longitude, std::string_view name) {
  document.waypoints += "  <wpt lat=\"" + latitude + "\" lon=\"" + longitude +
                        "\">\n    <name>" + XmlText(name) + "</name>\n";
}

} // namespace

std::string XmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[at]);
    size_t length = utf8_length(text, at);
    if (const char *escaped = markup_escape(text[at])) {
      out += escaped;
    } else if (length == 0 || c == 0x7F ||
               (c < 0x20 && c != '\t' && c != '\n' && c != '\r')) {
      out += kReplacement;
    } else {
      out.append(text.substr(at, length));
    }
    at += length ? length : 1;
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

void AddWaypoint(GpxDocument &document, const std::string &latitude,
                 const std::string &longitude, std::string_view name) {
  open_waypoint(document, latitude, longitude, name);
  document.waypoints += "  </wpt>\n";
}

void AddPicture(GpxDocument &document, const std::string &latitude,
                const std::string &longitude, const std::string &path) {
  size_t slash = path.rfind('/');
  std::string_view name(path);
  if (slash != std::string::npos)
    name.remove_prefix(slash + 1);
  open_waypoint(document, latitude, longitude, name);
  document.waypoints += "    <link href=\"" + FileUri(absolute_path(path)) +
                        "\">\n      <type>image/jpeg</type>\n    </link>\n"
                        "  </wpt>\n";
}

std::string RenderGpx(const GpxDocument &document) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<gpx version=\"1.1\" creator=\"pintrail-maphost\" "
         "xmlns=\"http://www.topografix.com/GPX/1/1\">\n" +
         document.waypoints + "</gpx>\n";
}

bool WriteFileAtomically(const std::string &path, const std::string &contents,
                         std::string *why) {
  std::string temporary = path + ".tmp." + std::to_string(getpid());
  int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *why = temporary + ": " + strerror(errno);
    return false;
  }
  size_t written = 0;
  while (written < contents.size()) {
    ssize_t n = write(fd, contents.data() + written, contents.size() - written);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    written += static_cast<size_t>(n);
  }
  int saved = errno;
  bool ok = written == contents.size();
  if (close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    unlink(temporary.c_str());
    *why = path + ": " + strerror(saved);
  }
  return ok;
}
