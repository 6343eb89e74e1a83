// The web view's live streams: server-sent events that hold no thread while
// they wait, however many pages are open.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

#include "maphost/web/view.h"

namespace {

constexpr auto kKeepAlive = std::chrono::seconds(15);
// A live stream sends what came in this long at once: fifty pages wake a
// few times a second, not at every command.
constexpr auto kGather = std::chrono::milliseconds(250);
constexpr auto kWatch = std::chrono::seconds(1); // how often slow visitors are looked for

} // namespace

struct EventStream {
  WebView &view;
  MHD_Connection *connection;
  size_t events_told; // SIZE_MAX: none yet
  std::string message;
  size_t sent;
  bool resumed; // by the waker: with nothing new, a keep-alive is due
};

namespace {

// What the store holds now, as one message:
// {"n": [pictures, places, waypoints without a picture], "b": [south, west, north, east] or null, "e": events}
std::string news(Store &store, const StoreCounts &counts) {
  MapPoint least, most;
  std::string bounds = "null";
  if (BoundsOf(store, least, most)) {
    char box[128];
    snprintf(box, sizeof box, "[%.7f,%.7f,%.7f,%.7f]", LatitudeOf(most.y), LongitudeOf(least.x),
             LatitudeOf(least.y), LongitudeOf(most.x));
    bounds = box;
  }
  return "{\"n\":[" + std::to_string(counts.pictures) + "," + std::to_string(counts.places) + "," +
         std::to_string(counts.lone_waypoints) + "],\"b\":" + bounds + ",\"e\":" + std::to_string(counts.events) + "}";
}

// The stream's next message; false, the stream suspended, when it has
// nothing to say.
bool next_message(EventStream &stream) {
  std::lock_guard<std::mutex> hold(stream.view.streams_lock); // no wake-up slips past
  StoreCounts counts = CountsOf(stream.view.store);
  bool changed = counts.events != stream.events_told;
  if (!changed && !stream.resumed) {
    stream.view.suspended.insert(&stream);
    MHD_suspend_connection(stream.connection);
    return false;
  }
  stream.resumed = false;
  stream.events_told = counts.events;
  stream.message = changed ? "data: " + news(stream.view.store, counts) + "\n\n" : ":\n\n"; // or a keep-alive
  stream.sent = 0;
  return true;
}

ssize_t read_events(void *cls, uint64_t, char *buffer, size_t most) {
  EventStream &stream = *static_cast<EventStream *>(cls);
  if (stream.view.closing)
    return MHD_CONTENT_READER_END_OF_STREAM;
  if (stream.sent == stream.message.size() && !next_message(stream))
    return 0; // suspended until the waker resumes it
  size_t length = std::min(most, stream.message.size() - stream.sent);
  memcpy(buffer, stream.message.data() + stream.sent, length);
  stream.sent += length;
  return static_cast<ssize_t>(length);
}

void free_events(void *cls) { delete static_cast<EventStream *>(cls); }

void resume_all(WebView &view) {
  std::lock_guard<std::mutex> hold(view.streams_lock);
  for (EventStream *stream : view.suspended) {
    stream->resumed = true;
    MHD_resume_connection(stream->connection);
  }
  view.suspended.clear();
}

} // namespace

MHD_Response *EventsResponse(MHD_Connection *connection, WebView &view) {
  auto *stream = new EventStream{view, connection, SIZE_MAX, "", 0, false};
  MHD_Response *response =
      MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4 * 1024, read_events, stream, free_events);
  if (!response)
    delete stream;
  return response;
}

void WakeStreams(WebView &view) {
  Store &store = view.store;
  size_t seen = 0;
  auto keep_alive = std::chrono::steady_clock::now() + kKeepAlive;
  while (!view.closing) {
    size_t now = WaitForChangesSince(store, seen, kWatch, view.closing);
    bool news = now > seen;
    seen = now;
    DropSlowVisitors(view);
    if (news)
      std::this_thread::sleep_for(kGather);
    if (news || std::chrono::steady_clock::now() >= keep_alive) {
      keep_alive = std::chrono::steady_clock::now() + kKeepAlive;
      resume_all(view);
    }
  }
}

void ResumeAllStreams(WebView &view) { resume_all(view); }
