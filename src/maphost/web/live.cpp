// The web view's live streams: server-sent events that hold no thread while
// they wait, however many pages are open.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

#include "maphost/web/view.h"

namespace {

constexpr size_t kBatch = 1000;             // positions in one live message
constexpr size_t kMostBatchBytes = 1 << 20; // and bytes, whatever their paths
constexpr auto kKeepAlive = std::chrono::seconds(15);
// A live stream sends what came in this long at once: fifty pages wake a
// few times a second, not at every command.
constexpr auto kGather = std::chrono::milliseconds(250);
constexpr auto kWatch = std::chrono::seconds(1); // how often slow visitors are looked for

} // namespace

struct EventStream {
  WebView &view;
  MHD_Connection *connection;
  size_t snapshot_end;
  size_t next_position;
  size_t next_event;
  size_t folders_sent; // the view's folders this page knows
  bool first;          // its first message says how many positions the snapshot holds
  std::string message;
  size_t sent;
  bool resumed; // by the waker: with nothing new, a keep-alive is due
};

namespace {

// The batch under way: the positions' JSON, and the folders they bring in
// (those the page does not know yet), counted against the same budget.
struct Batch {
  std::string positions;
  size_t folders_end, folder_bytes = 0;
  bool full() const { return positions.size() + folder_bytes >= kMostBatchBytes; }
};

// Adds the position unless the batch is full already.
bool add_position(Batch &batch, WebView &view, const StoredPosition &stored) {
  if (batch.full())
    return false;
  batch.positions.append(",").append(EncodedPosition(view, stored));
  for (; batch.folders_end < view.folder_end[stored.index]; batch.folders_end++)
    batch.folder_bytes += view.folders.names[batch.folders_end].size();
  return true;
}

// The next message of a stream: positions of the snapshot, else what
// changed since; empty when there is nothing to send.
std::string next_batch(EventStream &stream) {
  Batch batch{"", stream.folders_sent};
  auto add = [&](const StoredPosition &stored) { return add_position(batch, stream.view, stored); };
  if (stream.next_position < stream.snapshot_end)
    stream.next_position = VisitPositions(stream.view.store, stream.next_position,
                                          std::min(stream.snapshot_end, stream.next_position + kBatch), false, add);
  else
    stream.next_event = VisitPositions(stream.view.store, stream.next_event, stream.next_event + kBatch, true, add);
  if (batch.positions.empty())
    return "";
  std::string message = BatchJson(batch.positions.substr(1), stream.view.folders, stream.folders_sent,
                                  batch.folders_end, stream.first ? static_cast<long long>(stream.snapshot_end) : -1);
  stream.first = false;
  stream.folders_sent = std::max(stream.folders_sent, batch.folders_end);
  return message;
}

// The stream's next message; false, the stream suspended, when it has
// nothing to say.
bool next_message(EventStream &stream) {
  std::lock_guard<std::mutex> hold(stream.view.streams_lock); // no wake-up slips past
  std::string batch = next_batch(stream);
  if (batch.empty() && !stream.resumed) {
    stream.view.suspended.insert(&stream);
    MHD_suspend_connection(stream.connection);
    return false;
  }
  stream.resumed = false;
  stream.message = batch.empty() ? ":\n\n" // keeps the connection alive
                                 : "id: " + std::to_string(stream.next_event) + "\ndata: " + batch + "\n\n";
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

const std::string &EncodedPosition(WebView &view, const StoredPosition &stored) {
  uint32_t i = stored.index;
  if (view.encoded.size() <= i) {
    view.encoded.resize(i + 1);
    view.encoded_at.resize(i + 1, UINT32_MAX);
    view.folder_end.resize(i + 1);
  }
  if (view.encoded_at[i] != stored.changed_at) {
    view.encoded[i] = PositionJson(stored.position, i, view.folders);
    view.encoded_at[i] = stored.changed_at;
    view.folder_end[i] = stored.position.picture ? view.folders.ids[FolderOf(stored.position)] + 1 : 0;
  }
  return view.encoded[i];
}

MHD_Response *EventsResponse(MHD_Connection *connection, WebView &view, const char *last) {
  auto *stream = new EventStream{view, connection, 0, 0, 0, 0, true, "", 0, false};
  StoreCounts counts = CountsOf(view.store);
  stream->next_event = counts.events;
  stream->snapshot_end = counts.waypoints + counts.pictures;
  char *end = nullptr;
  unsigned long resume = last ? strtoul(last, &end, 10) : 0;
  if (last && *last && !*end && resume <= stream->next_event) // a reconnection picks up
    stream->next_event = resume, stream->snapshot_end = 0;
  MHD_Response *response =
      MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 64 * 1024, read_events, stream, free_events);
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
