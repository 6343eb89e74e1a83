#include "maphost/web/server.h"

#include <algorithm>
#include <arpa/inet.h>
#include <sys/socket.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <microhttpd.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <unistd.h>
#include <thread>

#include "maphost/web/address.h"
#include "maphost/web/assets.h"
#include "maphost/web/page.h"
#include "maphost/web/picture_work.h"
#include "maphost/web/queries.h"
#include "maphost/web/view.h"
#include "platform/descriptor.h"
#include "platform/loopback.h"

namespace {

constexpr int kLiveNice = 10;
constexpr unsigned kIdleSeconds = 120; // a client silent this long is dropped
// A connection that has not shown the token this long is closed, however
// slowly it trickles its request.
constexpr auto kProveTime = std::chrono::seconds(5);
// And when more than this many have yet to show it, the oldest is closed
// once it has had kGrace to send its request: another user's flood of
// connections cannot crowd out the owner's, whose requests come at once.
constexpr size_t kMostVisitors = 64;
constexpr auto kGrace = std::chrono::milliseconds(250);
constexpr unsigned kPoolThreads = 2;    // per address: connections cost no thread
constexpr int kPortAttempts = 16; // ports the system picks, until one is free on both addresses

} // namespace

// A connection that has yet to show the token.
struct Visitor {
  MHD_socket fd;
  std::chrono::steady_clock::time_point since;
  std::list<Visitor *>::iterator place; // in the view's visitors, while listed
  bool listed;
};

namespace {

// A request whose Host and token were checked, on the first call for it.
char kChecked;

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

// A refusal of the token's holder keeps the connection; any other closes
// it: whoever has no token starts over.
MHD_Result refuse(MHD_Connection *connection, const WebView &view, unsigned status,
                  const char *why) {
  std::string text = std::string(why) + "\n";
  MHD_Response *response = MHD_create_response_from_buffer(text.size(), text.data(), MHD_RESPMEM_MUST_COPY);
  if (response && status != MHD_HTTP_NOT_FOUND)
    MHD_add_response_header(response, "Connection", "close");
  return send(connection, view, status, "text/plain; charset=utf-8", response);
}

// Takes visitor off the list of connections yet to show the token; the
// visitors' lock is held.
void unlist(WebView &view, Visitor *visitor) {
  if (visitor->listed)
    view.visitors.erase(visitor->place);
  visitor->listed = false;
}

// Closes the connection of visitor; the event loop sees it end.
void drop(WebView &view, Visitor *visitor) {
  if (visitor->fd != MHD_INVALID_SOCKET)
    shutdown(visitor->fd, SHUT_RDWR);
  unlist(view, visitor);
}

// Closes the oldest visitors past their grace while there are too many;
// the visitors' lock is held.
void drop_crowd(WebView &view) {
  auto graced = std::chrono::steady_clock::now() - kGrace;
  while (view.visitors.size() > kMostVisitors && view.visitors.front()->since <= graced)
    drop(view, view.visitors.front());
}

// The connection showed the token: it is its owner's, with no time limit.
void proven(MHD_Connection *connection, WebView &view) {
  const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  std::lock_guard<std::mutex> hold(view.visitors_lock);
  if (info)
    unlist(view, static_cast<Visitor *>(info->socket_context));
}

// Every connection is a visitor until it shows the token. Web threads
// yield to the port exchange when both want a core.
void track_visitor(void *cls, MHD_Connection *connection, void **context,
                   MHD_ConnectionNotificationCode code) {
  WebView &view = *static_cast<WebView *>(cls);
  static thread_local bool niced = false;
  if (!niced) {
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kLiveNice);
    niced = true;
  }
  std::lock_guard<std::mutex> hold(view.visitors_lock);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    auto *visitor = new Visitor{info ? info->connect_fd : MHD_INVALID_SOCKET, std::chrono::steady_clock::now(), {}, true};
    *context = visitor;
    visitor->place = view.visitors.insert(view.visitors.end(), visitor);
    drop_crowd(view);
  } else { // closed: its descriptor is closed after this returns
    auto *visitor = static_cast<Visitor *>(*context);
    unlist(view, visitor);
    delete visitor;
  }
}

// The picture by its number in the URL, never a path from the URL; false
// when there is no such picture.
bool picture_of(WebView &view, const char *number, Position &picture) {
  if (strlen(number) > 9 || number[strspn(number, "0123456789")] != '\0' || !*number)
    return false;
  return PictureAt(view.store, strtoul(number, nullptr, 10), picture);
}

// A thumbnail, the whole picture or its facts: from the cache, or made by
// the picture worker while the connection waits suspended; called again
// with the job when it is done.
MHD_Result serve_picture(MHD_Connection *connection, WebView &view, PictureWant want,
                         const char *number, void **request) {
  if (auto *job = *request != &kChecked ? static_cast<PictureJob *>(*request) : nullptr)
    return job->type ? send_bytes(connection, view, MHD_HTTP_OK, job->type, job->bytes)
                     : refuse(connection, view, MHD_HTTP_NOT_FOUND, "no such picture");
  Position picture;
  std::string jpeg;
  uint32_t index = static_cast<uint32_t>(strtoul(number, nullptr, 10));
  if (!picture_of(view, number, picture))
    return refuse(connection, view, MHD_HTTP_NOT_FOUND, "no such picture");
  if (want == PictureWant::Thumbnail && CachedThumbnail(view.pictures, index, jpeg))
    return jpeg.empty() ? refuse(connection, view, MHD_HTTP_NOT_FOUND, "no such thumbnail")
                        : send_bytes(connection, view, MHD_HTTP_OK, "image/jpeg", jpeg);
  auto *job = new PictureJob{want, index, std::move(picture), connection, nullptr, ""};
  *request = job; // freed when the request completes
  MHD_suspend_connection(connection);
  QueuePictureJob(view.pictures, job);
  return MHD_YES;
}

void free_job(void *, MHD_Connection *, void **request, MHD_RequestTerminationCode) {
  if (*request != &kChecked)
    delete static_cast<PictureJob *>(*request);
  *request = nullptr;
}

MHD_Result answer(void *cls, MHD_Connection *connection, const char *url, const char *method,
                  const char *, const char *, size_t *, void **request) {
  WebView &view = *static_cast<WebView *>(cls);
  if (strcmp(method, "GET") != 0 && strcmp(method, "HEAD") != 0)
    return refuse(connection, view, MHD_HTTP_METHOD_NOT_ALLOWED, "only GET is served");
  const char *host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Host");
  bool loopback = false;
  for (const std::string &name : view.hosts)
    loopback |= host && !name.empty() && name == host;
  if (!loopback) // a page of another site whose name now resolves to 127.0.0.1
    return refuse(connection, view, MHD_HTTP_FORBIDDEN, "only loopback host names are served");
  const char *token = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "token");
  if (!*request && (!token || !same_secret(token, view.token)))
    return refuse(connection, view, MHD_HTTP_FORBIDDEN, "open the address with the token the host printed");
  if (!*request) { // an answer queued now would close the connection: the next call gives it
    proven(connection, view);
    *request = &kChecked;
    return MHD_YES;
  }
  std::string_view path(url);
  if (path == "/") {
    MHD_Response *page = MHD_create_response_from_buffer(
        view.page.size(), const_cast<char *>(view.page.data()), MHD_RESPMEM_PERSISTENT);
    return send(connection, view, MHD_HTTP_OK, "text/html; charset=utf-8", page);
  }
  if (path == "/events")
    return send(connection, view, MHD_HTTP_OK, "text/event-stream", EventsResponse(connection, view));
  if (IsQuery(path)) {
    QueryAnswer answer = AnswerQuery(view.store, path, [&](const char *name) {
      return MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, name);
    });
    if (answer.refusal)
      return refuse(connection, view, MHD_HTTP_CONTENT_TOO_LARGE, answer.refusal);
    return answer.bytes.empty() ? refuse(connection, view, MHD_HTTP_NOT_FOUND, "no such question or position")
                                : send_bytes(connection, view, MHD_HTTP_OK, answer.type, answer.bytes);
  }
  static const struct {
    std::string_view prefix;
    PictureWant want;
  } kPictures[] = {{"/thumb/", PictureWant::Thumbnail}, {"/picture/", PictureWant::Whole},
                   {"/facts/", PictureWant::Facts}};
  for (const auto &served : kPictures)
    if (path.substr(0, served.prefix.size()) == served.prefix)
      return serve_picture(connection, view, served.want, url + served.prefix.size(), request);
  const Asset *asset = path.substr(0, 8) == "/assets/" ? FindAsset(path.substr(8)) : nullptr;
  if (!asset)
    return refuse(connection, view, MHD_HTTP_NOT_FOUND, "not served here");
  return send(connection, view, MHD_HTTP_OK, asset->type,
              MHD_create_response_from_buffer(asset->bytes.size(), const_cast<char *>(asset->bytes.data()),
                                              MHD_RESPMEM_PERSISTENT));
}

// As many connections as the descriptors allow, raised to the hard limit:
// an event loop holds them, not a thread each.
unsigned most_connections() {
  rlimit files{};
  getrlimit(RLIMIT_NOFILE, &files);
  files.rlim_cur = std::min<rlim_t>(files.rlim_max, 1 << 16);
  setrlimit(RLIMIT_NOFILE, &files);
  getrlimit(RLIMIT_NOFILE, &files);
  return files.rlim_cur > 256 ? static_cast<unsigned>((files.rlim_cur - 128) / 2) : 64;
}

MHD_Daemon *start_daemon(WebView &view, const sockaddr *address) {
  return MHD_start_daemon(
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME |
          (address->sa_family == AF_INET6 ? MHD_USE_IPv6 : 0),
      0, nullptr, nullptr, answer, &view, MHD_OPTION_SOCK_ADDR, address,
      MHD_OPTION_THREAD_POOL_SIZE, kPoolThreads, MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
      MHD_OPTION_CONNECTION_LIMIT, most_connections(), MHD_OPTION_NOTIFY_CONNECTION,
      track_visitor, &view, MHD_OPTION_NOTIFY_COMPLETED, free_job, nullptr, MHD_OPTION_END);
}

// Whether this machine has the IPv6 loopback address.
bool have_ipv6_loopback() {
  Descriptor probe(socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in6 any{};
  any.sin6_family = AF_INET6;
  any.sin6_addr = in6addr_loopback;
  return probe.fd >= 0 && bind(probe.fd, reinterpret_cast<sockaddr *>(&any), sizeof any) == 0;
}

// 127.0.0.1 and ::1 on port (0: one the system picks, free on both), or
// nothing: whoever holds the port on either address would be answered
// for "localhost" in the page's stead, and given its token.
bool listen_on_loopback(WebView &view, int port, std::string *why) {
  bool ipv6 = have_ipv6_loopback();
  for (int attempt = 0; attempt < kPortAttempts; attempt++) {
    sockaddr_in v4 = LoopbackAddress(port);
    view.daemons[0] = start_daemon(view, reinterpret_cast<sockaddr *>(&v4));
    if (!view.daemons[0]) {
      *why = "cannot serve the web view on 127.0.0.1 port " + std::to_string(port);
      return false;
    }
    view.port = MHD_get_daemon_info(view.daemons[0], MHD_DAEMON_INFO_BIND_PORT)->port;
    std::string bound = std::to_string(view.port);
    view.hosts[0] = "127.0.0.1:" + bound;
    view.hosts[1] = "localhost:" + bound;
    if (!ipv6)
      return true;
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<uint16_t>(view.port));
    v6.sin6_addr = in6addr_loopback;
    if ((view.daemons[1] = start_daemon(view, reinterpret_cast<sockaddr *>(&v6)))) {
      view.hosts[2] = "[::1]:" + bound;
      return true;
    }
    MHD_stop_daemon(view.daemons[0]);
    view.daemons[0] = nullptr;
    *why = "cannot serve the web view on ::1 port " + bound + ": another program holds it";
    if (port != 0)
      return false;
  }
  return false;
}

} // namespace

void DropSlowVisitors(WebView &view) {
  auto limit = std::chrono::steady_clock::now() - kProveTime;
  std::lock_guard<std::mutex> hold(view.visitors_lock);
  while (!view.visitors.empty() && view.visitors.front()->since <= limit) // oldest first
    drop(view, view.visitors.front());
  drop_crowd(view);
}

void WebViewStop::operator()(WebView *view) const {
  RaiseUnderLock(view->store, view->closing);
  if (view->waker.joinable())
    view->waker.join();
  StopPictureWork(view->pictures);
  ResumeAllStreams(*view); // each ends; a suspended one would outlive its daemon
  for (MHD_Daemon *daemon : view->daemons)
    if (daemon)
      MHD_stop_daemon(daemon);
  delete view;
}

WebViewHandle StartWebView(Store &store, const WebOptions &options, std::string *why) {
  WebViewHandle view(new WebView(store));
  WebAddress kept = options.address_file.empty() ? WebAddress{} : ReadWebAddress(options.address_file);
  view->token = kept.token.empty() ? random_token() : kept.token;
  view->config = PageConfig{true, options.tiles, view->token};
  if (view->token.empty()) {
    *why = "no random bytes for the web view's token";
    return nullptr;
  }
  std::string busy; // the port kept, taken meanwhile: another is as good
  bool listening = options.port == 0 && kept.port != 0 && listen_on_loopback(*view, kept.port, &busy);
  if (!listening && !listen_on_loopback(*view, options.port, why))
    return nullptr;
  if (!options.address_file.empty() && !KeepWebAddress(options.address_file, {view->port, view->token}, why))
    return nullptr;
  view->policy = "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data: " +
                 TileSource(options.tiles) +
                 "; connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
  view->page = LivePage(view->config);
  view->waker = std::thread(WakeStreams, std::ref(*view));
  view->pictures.thread = std::thread(DoPictureWork, std::ref(view->pictures));
  return view;
}

std::string WebViewUrl(const WebView &view) {
  return "http://127.0.0.1:" + std::to_string(view.port) + "/?token=" + view.token;
}
