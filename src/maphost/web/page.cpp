#include "maphost/web/page.h"

#include <fstream>
#include <nlohmann/json.hpp>

#include "maphost/web/assets.h"

namespace {

constexpr char kOsmTiles[] = "https://{s}.tile.openstreetmap.org/{z}/{x}/{y}.png";
constexpr char kAttribution[] =
    "&copy; <a href=\"https://www.openstreetmap.org/copyright\">OpenStreetMap</a> contributors";
// The page's files, in the order they load.
const char *const kStyles[] = {"leaflet.css", "MarkerCluster.css", "MarkerCluster.Default.css", "app.css"};
const char *const kScripts[] = {"leaflet.js", "leaflet.markercluster.js", "app.js"};
constexpr char kGenerator[] = "<meta name=\"generator\" content=\"pintrail-maphost\">";

// JSON that no "<" can end or reopen inside an HTML script element.
std::string script_safe(const nlohmann::json &value) {
  std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::string safe;
  safe.reserve(text.size());
  for (char c : text)
    safe += c == '<' ? std::string("\\u003c") : std::string(1, c);
  return safe;
}

std::string data_block(const char *id, const std::string &json) {
  return "<script type=\"application/json\" id=\"" + std::string(id) + "\">" + json + "</script>\n";
}

std::string config_block(const PageConfig &config) {
  nlohmann::json value = {{"live", config.live},
                          {"tiles", config.tiles.empty() ? kOsmTiles : config.tiles},
                          {"attribution", kAttribution}};
  return data_block("config", script_safe(value));
}

std::string fill(std::string head, std::string body) {
  std::string page(PageTemplate());
  page.replace(page.find("@HEAD@"), 6, head);
  page.replace(page.find("@BODY@"), 6, body);
  return page;
}

std::string inline_asset(const char *tag, const char *name) {
  return "<" + std::string(tag) + ">\n" + std::string(FindAsset(name)->bytes) + "\n</" + tag + ">\n";
}

} // namespace

std::string PositionJson(const Position &p, uint32_t number, const std::string *thumbnail) {
  nlohmann::json item = {{"i", number},
                         {"k", p.picture ? "p" : "w"},
                         {"lat", strtod(p.latitude.c_str(), nullptr)},
                         {"lon", strtod(p.longitude.c_str(), nullptr)},
                         {"name", p.name}};
  if (p.picture)
    item["path"] = p.path.empty() ? p.href : p.path;
  if (thumbnail && !thumbnail->empty())
    item["thumb"] = *thumbnail;
  return script_safe(item);
}

std::string PositionsJson(const std::vector<Position> &positions,
                          const std::vector<uint32_t> &numbers,
                          const std::vector<std::string> *thumbnails) {
  std::string list = "[";
  for (size_t i = 0; i < positions.size(); i++) {
    bool thumbed = thumbnails && i < thumbnails->size();
    list += (i ? "," : "") + PositionJson(positions[i], numbers[i], thumbed ? &(*thumbnails)[i] : nullptr);
  }
  return list + "]";
}

std::string LivePage(const PageConfig &config) {
  std::string head;
  for (const char *css : kStyles)
    head += "<link rel=\"stylesheet\" href=\"assets/" + std::string(css) + "\">\n";
  std::string body = config_block(config);
  for (const char *js : kScripts)
    body += "<script src=\"assets/" + std::string(js) + "\"></script>\n";
  return fill(head, body);
}

std::string ExportPage(const PageConfig &config, const std::vector<Position> &positions,
                       const std::vector<std::string> &thumbnails) {
  // Inline scripts and styles, and images from anywhere: the file has no server.
  std::string head = "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                     "script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data: https: http:\">\n";
  for (const char *css : kStyles)
    head += inline_asset("style", css);
  std::vector<uint32_t> numbers(positions.size());
  for (size_t i = 0; i < numbers.size(); i++)
    numbers[i] = static_cast<uint32_t>(i);
  std::string body = config_block(config) +
                     data_block("positions", PositionsJson(positions, numbers, &thumbnails));
  for (const char *js : kScripts)
    body += inline_asset("script", js);
  return fill(head, body);
}

bool IsOwnPage(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  if (!file)
    return true;
  std::string start(4096, '\0');
  file.read(start.data(), static_cast<std::streamsize>(start.size()));
  start.resize(static_cast<size_t>(file.gcount()));
  return start.empty() || start.find(kGenerator) != std::string::npos;
}

std::string TileSource(const std::string &tiles) {
  std::string source = tiles.empty() ? kOsmTiles : tiles;
  size_t scheme = source.find("://");
  if (scheme == std::string::npos)
    return "https:";
  size_t end = source.find('/', scheme + 3);
  std::string origin = source.substr(0, end);
  size_t placeholder = origin.find("{s}");
  if (placeholder != std::string::npos)
    origin.replace(placeholder, 3, "*");
  size_t star = origin.find('*');
  bool plain = origin.find_first_of("{}'; ,\"") == std::string::npos &&
               (star == std::string::npos || origin.compare(scheme + 3, 2, "*.") == 0);
  return plain ? origin : source.substr(0, scheme + 1);
}
