#include "maphost/web/assets.h"

// Each file between a start and an end symbol, read by the assembler.
#define EMBED(symbol, path)                                                  \
  extern "C" const char symbol##_start[], symbol##_end[];                   \
  asm(".section .rodata\n.balign 16\n.global " #symbol "_start\n" #symbol     \
      "_start:\n.incbin \"" path "\"\n.global " #symbol "_end\n" #symbol      \
      "_end:\n.byte 0\n.previous\n")

EMBED(leaflet_js, LEAFLET_JS);
EMBED(leaflet_css, LEAFLET_CSS);
EMBED(countries_json, COUNTRIES_JSON);
EMBED(cluster_css, CLUSTER_CSS);
EMBED(cluster_default_css, CLUSTER_DEFAULT_CSS);
EMBED(app_js, WEB_DIR "/app.js");
EMBED(app_css, WEB_DIR "/app.css");
EMBED(page_html, WEB_DIR "/page.html");

namespace {

#define BYTES(symbol) std::string_view(symbol##_start, static_cast<size_t>(symbol##_end - symbol##_start))

const Asset kAssets[] = {
    {"leaflet.js", "text/javascript; charset=utf-8", BYTES(leaflet_js)},
    {"leaflet.css", "text/css; charset=utf-8", BYTES(leaflet_css)},
    {"countries-50m.json", "application/json", BYTES(countries_json)},
    {"MarkerCluster.css", "text/css; charset=utf-8", BYTES(cluster_css)},
    {"MarkerCluster.Default.css", "text/css; charset=utf-8", BYTES(cluster_default_css)},
    {"app.js", "text/javascript; charset=utf-8", BYTES(app_js)},
    {"app.css", "text/css; charset=utf-8", BYTES(app_css)},
};

} // namespace

const Asset *FindAsset(std::string_view name) {
  for (const Asset &asset : kAssets)
    if (name == asset.name)
      return &asset;
  return nullptr;
}

std::string_view PageTemplate() { return BYTES(page_html); }
