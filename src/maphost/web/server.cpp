#include "maphost/web/server.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <microhttpd.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <unistd.h>
#include <thread>

#include "maphost/web/assets.h"
#include "maphost/web/page.h"
#include "maphost/web/thumbnail.h"

namespace {

constexpr size_t kBatch = 1000;          // positions in one live message
constexpr size_t kMostBatchBytes = 1 << 20; // and bytes, whatever their paths
constexpr auto kKeepAlive = std::chrono::seconds(15);
// A live stream sends what came in this long at once: fifty pages wake a
// few times a second, not at every command.
constexpr auto kGather = std::chrono::milliseconds(250);
constexpr int kLiveNice = 10;
constexpr unsigned kIdleSeconds = 120;   // a client silent this long is dropped
constexpr unsigned kMostConnections = 256;

} // namespace

struct WebView {
  explicit WebView(Store &served) : store(served) {}
  Store &store;
  PageConfig config;
  std::string token, policy, page;
  std::string hosts[3]; // the Host headers served
  int port = 0;
  std::atomic<bool> closing{false};
  // Each position's JSON as of the event that last changed it, made once
  // for every live page; under the store's lock.
  std::vector<std::string> encoded;
  std::vector<uint32_t> encoded_at;
  MHD_Daemon *daemons[2] = {nullptr, nullptr};
};

namespace {

// A stream of live positions: first every position kept when it opened,
// then each one added or changed since, as server-sent events.
struct EventStream {
  WebView &view;
  size_t snapshot_end;
  size_t next_position = 0;
  size_t next_event;
  std::string message;
  size_t sent = 0;
};

std::string random_token() {
  unsigned char bytes[32];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
    return "";
  static const char hex[] = "0123456789abcdef";
  std::string token;
  for (unsigned char byte : bytes)
    token += std::string{hex[byte >> 4], hex[byte & 15]};
  return token;
}

// Compares every byte whatever the first difference, so timing tells nothing.
bool same_secret(const char *given, const std::string &secret) {
  size_t length = strnlen(given, secret.size() + 1);
  unsigned char difference = length != secret.size();
  for (size_t i = 0; i < secret.size(); i++)
    difference |= static_cast<unsigned char>(secret[i] ^ (i < length ? given[i] : 0));
  return difference == 0;
}

MHD_Result send(MHD_Connection *connection, const WebView &view, unsigned status,
                const char *type, MHD_Response *response) {
  if (!response)
    return MHD_NO; // out of memory: the connection is closed
  MHD_add_response_header(response, "Content-Type", type);
  MHD_add_response_header(response, "Content-Security-Policy", view.policy.c_str());
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
  MHD_add_response_header(response, "Cache-Control", "no-store");
  MHD_Result queued = MHD_queue_response(connection, status, response);
  MHD_destroy_response(response);
  return queued;
}

MHD_Result send_bytes(MHD_Connection *connection, const WebView &view, unsigned status,
                      const char *type, const std::string &bytes) {
  return send(connection, view, status, type,
              MHD_create_response_from_buffer(bytes.size(), const_cast<char *>(bytes.data()),
                                              MHD_RESPMEM_MUST_COPY));
}

MHD_Result refuse(MHD_Connection *connection, const WebView &view, unsigned status,
                  const char *why) {
  return send_bytes(connection, view, status, "text/plain; charset=utf-8", std::string(why) + "\n");
}

// Position i's JSON, made when it changed since; the store's lock is held.
const std::string &encoded(WebView &view, uint32_t i) {
  Store &store = view.store;
  if (view.encoded.size() < store.positions.size()) {
    view.encoded.resize(store.positions.size());
    view.encoded_at.resize(store.positions.size(), UINT32_MAX);
  }
  if (view.encoded_at[i] != store.changed_at[i]) {
    view.encoded[i] = PositionJson(store.positions[i], i);
    view.encoded_at[i] = store.changed_at[i];
  }
  return view.encoded[i];
}

// The next message of a stream, or false when the view closes.
bool next_message(EventStream &stream) {
  Store &store = stream.view.store;
  std::string batch;
  std::unique_lock<std::mutex> hold(store.lock);
  if (stream.next_position < stream.snapshot_end) {
    size_t end = std::min(stream.snapshot_end, stream.next_position + kBatch);
    for (; stream.next_position < end && batch.size() < kMostBatchBytes; stream.next_position++)
      batch.append(",").append(encoded(stream.view, static_cast<uint32_t>(stream.next_position)));
  } else {
    WaitForEvents(store, hold, kKeepAlive, [&] {
      return stream.view.closing || store.events.size() > stream.next_event;
    });
    if (stream.view.closing)
      return false;
    if (store.events.size() > stream.next_event && store.events.size() - stream.next_event < kBatch) {
      hold.unlock();
      std::this_thread::sleep_for(kGather);
      hold.lock();
    }
    size_t end = std::min(store.events.size(), stream.next_event + kBatch);
    for (; stream.next_event < end && batch.size() < kMostBatchBytes; stream.next_event++)
      batch.append(",").append(encoded(stream.view, store.events[stream.next_event]));
  }
  hold.unlock();
  if (!batch.empty())
    batch[0] = '[';
  stream.message = batch.empty() ? ":\n\n" // keeps the connection alive
                                 : "id: " + std::to_string(stream.next_event) + "\ndata: " + batch + "]\n\n";
  stream.sent = 0;
  return true;
}

ssize_t read_events(void *cls, uint64_t, char *buffer, size_t most) {
  EventStream &stream = *static_cast<EventStream *>(cls);
  if (stream.sent == stream.message.size() && !next_message(stream))
    return MHD_CONTENT_READER_END_OF_STREAM;
  size_t length = std::min(most, stream.message.size() - stream.sent);
  memcpy(buffer, stream.message.data() + stream.sent, length);
  stream.sent += length;
  return static_cast<ssize_t>(length);
}

void free_events(void *cls) { delete static_cast<EventStream *>(cls); }

MHD_Result serve_events(MHD_Connection *connection, WebView &view) {
  // This connection's thread yields to the port exchange when both want a core.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kLiveNice);
  auto *stream = new EventStream{view, 0, 0, 0, "", 0};
  const char *last = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Last-Event-ID");
  {
    std::lock_guard<std::mutex> hold(view.store.lock);
    stream->next_event = view.store.events.size();
    stream->snapshot_end = view.store.positions.size();
    char *end = nullptr;
    unsigned long resume = last ? strtoul(last, &end, 10) : 0;
    if (last && *last && !*end && resume <= stream->next_event) // a reconnection picks up
      stream->next_event = resume, stream->snapshot_end = 0;
  }
  return send(connection, view, MHD_HTTP_OK, "text/event-stream",
              MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 64 * 1024, read_events,
                                                stream, free_events));
}

// A thumbnail by the picture's number, never by a path from the URL.
MHD_Result serve_thumbnail(MHD_Connection *connection, WebView &view, const char *number) {
  std::string path;
  if (strlen(number) <= 9 && number[strspn(number, "0123456789")] == '\0' && *number) {
    size_t index = strtoul(number, nullptr, 10);
    std::lock_guard<std::mutex> hold(view.store.lock);
    if (index < view.store.positions.size() && view.store.positions[index].picture)
      path = view.store.positions[index].path;
  }
  std::string jpeg = path.empty() ? "" : ReadThumbnail(path);
  if (jpeg.empty())
    return refuse(connection, view, MHD_HTTP_NOT_FOUND, "no such thumbnail");
  return send_bytes(connection, view, MHD_HTTP_OK, "image/jpeg", jpeg);
}

MHD_Result answer(void *cls, MHD_Connection *connection, const char *url, const char *method,
                  const char *, const char *, size_t *, void **) {
  WebView &view = *static_cast<WebView *>(cls);
  if (strcmp(method, "GET") != 0 && strcmp(method, "HEAD") != 0)
    return refuse(connection, view, MHD_HTTP_METHOD_NOT_ALLOWED, "only GET is served");
  const char *host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Host");
  bool loopback = false;
  for (const std::string &name : view.hosts)
    loopback |= host && name == host;
  if (!loopback) // a page of another site whose name now resolves to 127.0.0.1
    return refuse(connection, view, MHD_HTTP_FORBIDDEN, "only loopback host names are served");
  const char *token = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "token");
  if (!token || !same_secret(token, view.token))
    return refuse(connection, view, MHD_HTTP_FORBIDDEN, "open the address with the token the host printed");
  std::string_view path(url);
  if (path == "/") {
    MHD_Response *page = MHD_create_response_from_buffer(
        view.page.size(), const_cast<char *>(view.page.data()), MHD_RESPMEM_PERSISTENT);
    return send(connection, view, MHD_HTTP_OK, "text/html; charset=utf-8", page);
  }
  if (path == "/events")
    return serve_events(connection, view);
  if (path.substr(0, 7) == "/thumb/")
    return serve_thumbnail(connection, view, url + 7);
  const Asset *asset = path.substr(0, 8) == "/assets/" ? FindAsset(path.substr(8)) : nullptr;
  if (!asset)
    return refuse(connection, view, MHD_HTTP_NOT_FOUND, "not served here");
  return send(connection, view, MHD_HTTP_OK, asset->type,
              MHD_create_response_from_buffer(asset->bytes.size(), const_cast<char *>(asset->bytes.data()),
                                              MHD_RESPMEM_PERSISTENT));
}

MHD_Daemon *start_daemon(WebView &view, const sockaddr *address) {
  return MHD_start_daemon(
      MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD |
          (address->sa_family == AF_INET6 ? MHD_USE_IPv6 : 0),
      0, nullptr, nullptr, answer, &view, MHD_OPTION_SOCK_ADDR, address,
      MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_CONNECTION_LIMIT,
      kMostConnections, MHD_OPTION_END);
}

} // namespace

void WebViewStop::operator()(WebView *view) const {
  {
    std::lock_guard<std::mutex> hold(view->store.lock);
    view->closing = true;
    view->store.changed.notify_all();
  }
  for (MHD_Daemon *daemon : view->daemons)
    if (daemon)
      MHD_stop_daemon(daemon);
  delete view;
}

WebViewHandle StartWebView(Store &store, const WebOptions &options, std::string *why) {
  WebViewHandle view(new WebView(store));
  view->token = random_token();
  view->config = PageConfig{true, options.tiles, view->token};
  if (view->token.empty()) {
    *why = "no random bytes for the web view's token";
    return nullptr;
  }
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  v4.sin_port = htons(static_cast<uint16_t>(options.port));
  v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  view->daemons[0] = start_daemon(*view, reinterpret_cast<sockaddr *>(&v4));
  if (!view->daemons[0]) {
    *why = "cannot serve the web view on 127.0.0.1 port " + std::to_string(options.port);
    return nullptr;
  }
  view->port = MHD_get_daemon_info(view->daemons[0], MHD_DAEMON_INFO_BIND_PORT)->port;
  sockaddr_in6 v6{};
  v6.sin6_family = AF_INET6;
  v6.sin6_port = htons(static_cast<uint16_t>(view->port));
  v6.sin6_addr = in6addr_loopback;
  view->daemons[1] = start_daemon(*view, reinterpret_cast<sockaddr *>(&v6)); // none without IPv6
  std::string port = std::to_string(view->port);
  view->hosts[0] = "127.0.0.1:" + port;
  view->hosts[1] = "localhost:" + port;
  view->hosts[2] = "[::1]:" + port;
  view->policy = "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data: " +
                 TileSource(options.tiles) +
                 "; connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
  view->page = LivePage(view->config);
  return view;
}

std::string WebViewUrl(const WebView &view) {
  return "http://127.0.0.1:" + std::to_string(view.port) + "/?token=" + view.token;
}
