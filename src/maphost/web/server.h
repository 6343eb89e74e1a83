// The web view: the map page, served by the host itself on the loopback
// addresses to whoever holds its secret token, fed live from the store.
#pragma once

#include <memory>
#include <string>

#include "maphost/store/store.h"

struct WebOptions {
  int port = 0;      // 0: the one kept, when it is free, else one the system picks
  std::string tiles; // the page's tile URL template; empty: OpenStreetMap
  std::string address_file; // where the port and token are kept; empty: nowhere
};

struct WebView;
struct WebViewStop {
  void operator()(WebView *view) const; // ends live streams, stops serving
};
using WebViewHandle = std::unique_ptr<WebView, WebViewStop>;

// Serves the store on 127.0.0.1 and, where there is IPv6, on ::1, with
// the token and port kept in the address file when there are; nullptr with
// the reason when the port cannot be had or the address not kept.
WebViewHandle StartWebView(Store &store, const WebOptions &options, std::string *why);

// "http://127.0.0.1:PORT/?token=SECRET": the address that opens the page.
std::string WebViewUrl(const WebView &view);
