#include "maphost/web/assets.h"

#include <nlohmann/json.hpp>
#include <string>

#include "maphost/embed.h"
#include "maphost/places/towns.h"

EMBED(leaflet_js, LEAFLET_JS);
EMBED(leaflet_css, LEAFLET_CSS);
EMBED(countries_json, COUNTRIES_JSON);
EMBED(cluster_css, CLUSTER_CSS);
EMBED(cluster_default_css, CLUSTER_DEFAULT_CSS);
EMBED(app_js, WEB_DIR "/app.js");
EMBED(app_css, WEB_DIR "/app.css");
EMBED(page_html, WEB_DIR "/page.html");

namespace {

const Asset kAssets[] = {
    {"leaflet.js", "text/javascript; charset=utf-8", EMBEDDED(leaflet_js)},
    {"leaflet.css", "text/css; charset=utf-8", EMBEDDED(leaflet_css)},
    {"countries-50m.json", "application/json", EMBEDDED(countries_json)},
    {"MarkerCluster.css", "text/css; charset=utf-8", EMBEDDED(cluster_css)},
    {"MarkerCluster.Default.css", "text/css; charset=utf-8", EMBEDDED(cluster_default_css)},
    {"app.js", "text/javascript; charset=utf-8", EMBEDDED(app_js)},
    {"app.css", "text/css; charset=utf-8", EMBEDDED(app_css)},
};

// The towns the outline map names: [[latitude, longitude, population,
// name], ...], the largest first, made once.
const Asset &towns_asset() {
  static const std::string json = [] {
    nlohmann::json towns = nlohmann::json::array();
    for (const Town *t : LargestTowns(WorldTowns(), 100000))
      towns.push_back({t->latitude, t->longitude, t->population, t->name});
    return towns.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }();
  static const Asset asset{"towns.json", "application/json", json};
  return asset;
}

} // namespace

const Asset *FindAsset(std::string_view name) {
  if (name == "towns.json")
    return &towns_asset();
  for (const Asset &asset : kAssets)
    if (name == asset.name)
      return &asset;
  return nullptr;
}

std::string_view PageTemplate() { return EMBEDDED(page_html); }
