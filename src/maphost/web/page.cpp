#include "maphost/web/page.h"

#include <nettle/sha2.h>
#include <nlohmann/json.hpp>

#include "maphost/web/assets.h"
#include "maphost/web/embedded.h"

namespace {

constexpr char kOsmTiles[] = "https://{s}.tile.openstreetmap.org/{z}/{x}/{y}.png";
constexpr char kAttribution[] =
    "&copy; <a href=\"https://www.openstreetmap.org/copyright\">OpenStreetMap</a> contributors";
// The page's files, in the order they load.
const char *const kStyles[] = {"leaflet.css", "MarkerCluster.css", "MarkerCluster.Default.css", "app.css"};
const char *const kScripts[] = {"leaflet.js", "app.js"};
constexpr char kGenerator[] = "<meta name=\"generator\" content=\"pintrail-maphost\">";

std::string data_block(const char *id, const std::string &json) {
  return "<script type=\"application/json\" id=\"" + std::string(id) + "\">" + json + "</script>\n";
}

std::string config_block(const PageConfig &config) {
  nlohmann::json value = {{"live", config.live},
                          {"tiles", config.tiles.empty() ? kOsmTiles : config.tiles},
                          {"attribution", kAttribution}};
  return data_block("config", ScriptSafe(value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)));
}

std::string fill(std::string head, std::string body) {
  std::string page(PageTemplate());
  page.replace(page.find("@HEAD@"), 6, head);
  page.replace(page.find("@BODY@"), 6, body);
  return page;
}

std::string inline_text(const char *name) {
  std::string text(1, '\n');
  return text.append(FindAsset(name)->bytes).append(1, '\n');
}

std::string inline_asset(const char *tag, const char *name) {
  return std::string("<") + tag + ">" + inline_text(name) + "</" + tag + ">\n";
}

// 'sha256-BASE64' of a script's text, for a Content-Security-Policy.
std::string script_hash(const std::string &text) {
  uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, text.size(), reinterpret_cast<const uint8_t *>(text.data()));
  sha256_digest(&context, sizeof digest, digest);
  return "'sha256-" + Base64(std::string_view(reinterpret_cast<const char *>(digest), sizeof digest)) + "'";
}

} // namespace

std::string LivePage(const PageConfig &config) {
  std::string head;
  std::string token = "?token=" + config.token;
  for (const char *css : kStyles)
    head += "<link rel=\"stylesheet\" href=\"assets/" + std::string(css) + token + "\">\n";
  std::string body = config_block(config);
  for (const char *js : kScripts)
    body += "<script src=\"assets/" + std::string(js) + token + "\"></script>\n";
  return fill(head, body);
}

std::string ExportPage(const PageConfig &config, const PositionFeed &each, const Thumbnails &thumbnails) {
  // Its own inline scripts and styles, and images from anywhere: the file
  // has no server.
  std::string scripts;
  for (const char *js : kScripts)
    scripts.append(" ").append(script_hash(inline_text(js)));
  std::string head = "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
                     "script-src" + scripts + "; style-src 'unsafe-inline'; img-src data: https: http:\">\n"
                     "<meta name=\"referrer\" content=\"no-referrer\">\n";
  for (const char *css : kStyles)
    head += inline_asset("style", css);
  EmbeddedLibrary library = EmbedLibrary(each, thumbnails);
  std::string body = config_block(config) + data_block("library", library.json) +
                     "<script type=\"text/plain\" id=\"columns\">" + library.blob + "</script>\n" +
                     data_block("thumbnails", library.thumbnails) +
                     data_block("world", std::string(FindAsset("countries-50m.json")->bytes)) +
                     data_block("towns", ScriptSafe(std::string(FindAsset("towns.json")->bytes)));
  for (const char *js : kScripts)
    body += inline_asset("script", js);
  return fill(head, body);
}

bool IsOwnPage(const std::string &contents) {
  return contents.empty() || contents.substr(0, 4096).find(kGenerator) != std::string::npos;
}

std::string TileSource(const std::string &tiles) {
  if (tiles == "none")
    return "";
  std::string source = tiles.empty() ? kOsmTiles : tiles;
  size_t scheme = source.find("://");
  if (scheme == std::string::npos)
    return "https:";
  size_t end = source.find('/', scheme + 3);
  std::string origin = source.substr(0, end);
  size_t placeholder = origin.find("{s}");
  if (placeholder != std::string::npos)
    origin.replace(placeholder, 3, 1, '*');
  size_t star = origin.find('*');
  bool plain = origin.find_first_of("{}'; ,\"") == std::string::npos &&
               (star == std::string::npos || origin.compare(scheme + 3, 2, "*.") == 0);
  return plain ? origin : source.substr(0, scheme + 1);
}
