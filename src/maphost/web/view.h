// The web view's state, shared by its request handling and its live
// streams; private to the web view.
#pragma once

#include <atomic>
#include <list>
#include <microhttpd.h>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "maphost/store/store.h"
#include "maphost/web/page.h"
#include "maphost/web/picture_work.h"

struct EventStream;
struct Visitor;

struct WebView {
  explicit WebView(Store &served) : store(served) {}
  Store &store;
  PageConfig config;
  std::string token, policy, page;
  std::string hosts[3]; // the Host headers served, on the addresses listened on; empty: none
  int port = 0;
  std::atomic<bool> closing{false};
  // Live streams with nothing to send are suspended, costing no thread; the
  // waker resumes them when positions arrive, and for a keep-alive.
  std::mutex streams_lock;
  std::unordered_set<EventStream *> suspended;
  // Connections that have not shown the token yet, oldest first: each has a
  // few seconds, and only the newest few are kept.
  std::mutex visitors_lock;
  std::list<Visitor *> visitors;
  std::thread waker;
  PictureWork pictures;
  MHD_Daemon *daemons[2] = {nullptr, nullptr};
};

// A live stream for a request of /events: what the store holds (its
// counts, the box of its positions), as server-sent events, at once and
// again whenever positions arrive.
MHD_Response *EventsResponse(MHD_Connection *connection, WebView &view);

// The waker's loop, until the view closes: resumes the suspended streams
// when positions arrive (gathered a quarter second) or a keep-alive is due,
// and drops visitors that took too long to show the token.
void WakeStreams(WebView &view);
// Resumes every suspended stream, so that each can end.
void ResumeAllStreams(WebView &view);
// Closes the connections of visitors older than their time limit, and the
// oldest of too many.
void DropSlowVisitors(WebView &view);
