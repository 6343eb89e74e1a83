// pintrail-maphost: a stand-in for the map application on port "VANTORA.1".
#include <clocale>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "maphost/exchange.h"
#include "maphost/files/gpx.h"
#include "maphost/files/keeper.h"
#include "maphost/thumbnails/bounded.h"
#include "maphost/web/page.h"
#include "maphost/web/server.h"
#include "maplink/grammar.h"
#include "platform/args.h"
#include "platform/console.h"
#include "platform/descriptor.h"
#include "platform/process.h"
#include "platform/whole_file.h"

namespace {

constexpr char kTemplate[] =
    "PORT/K,GPX/K,QUIET/S,WEB/S,WEBPORT/K/N,OPEN/S,TILES/K,HTML/K,DETACH/S";
enum Slot { kPort, kGpx, kQuiet, kWeb, kWebPort, kOpen, kTiles, kHtml, kDetach, kSlotCount };
constexpr int kCannotStart = 10;

const char kUsage[] =
    "Usage: pintrail-maphost [PORT name] [GPX file] [QUIET] [WEB] [WEBPORT n]\n"
    "                        [OPEN] [TILES url] [HTML file] [DETACH]\n"
    "Template: %s\n"
    "\n"
    "Owns a public message port (default \"VANTORA.1\") and answers the map\n"
    "commands \"addwaypoint\" and \"AddJPGPos\", printing each as it arrives.\n"
    "  PORT     the port's name\n"
    "  GPX      keep every position in this GPX 1.1 file (an existing one is continued)\n"
    "  QUIET    print nothing per command\n"
    "  WEB      show the positions live on a map in the browser, at the printed address\n"
    "  WEBPORT  the web view's TCP port (default: one the system picks)\n"
    "  OPEN     open the web view in the browser (xdg-open)\n"
    "  TILES    the map's tile URL template (default: OpenStreetMap; none: the\n"
    "           outline map alone)\n"
    "  HTML     keep the map as one self-contained page in this file\n"
    "  DETACH   run in the background once ready; print its process id (and address)\n"
    "Ends on Ctrl-C, SIGTERM or SIGHUP, writing its files and removing its port.\n"
    "Every position it answers is kept in FILE.journal until its files hold it,\n"
    "so a crash loses none; each file is locked for this host, and created 0600.\n";

int cannot_start(const std::string &why) {
  fprintf(stderr, "pintrail-maphost: %s\n", why.c_str());
  return kCannotStart;
}

// A page that forwards to the web view's address, readable by this user
// alone: the address goes to the browser in it, not on a command line
// every user can read. Removed when the host ends.
struct ForwardingPage {
  std::string path;
  ~ForwardingPage() {
    if (!path.empty())
      unlink(path.c_str());
  }
};

bool write_forwarding_page(ForwardingPage &page, const std::string &beside, const std::string &url) {
  page.path = beside + ".html";
  unlink(page.path.c_str());
  Descriptor fd(open(page.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  std::string html = "<!DOCTYPE html>\n<meta charset=\"utf-8\">\n"
                     "<meta name=\"referrer\" content=\"no-referrer\">\n"
                     "<meta http-equiv=\"refresh\" content=\"0;url=" + url + "\">\n"
                     "<title>pintrail map</title>\n<a href=\"" + url + "\">the map</a>\n";
  return fd.fd >= 0 && WriteAll(fd.fd, html);
}

// What the files hold now: "N waypoints and M pictures".
std::string kept_counts(Store &store) {
  StoreCounts counts = CountsOf(store);
  return std::to_string(counts.waypoints) + " waypoints and " + std::to_string(counts.pictures) +
         " pictures";
}

} // namespace

int main(int argc, char **argv) {
  uselocale(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0)));
  if (HandleStandardOption(argc, argv, kUsage, kTemplate, "pintrail-maphost 1.1"))
    return FlushOutput();
  ArgSlot slots[kSlotCount];
  ArgsHandle args(ReadArgs(kTemplate, slots, argc, argv));
  if (!args)
    return cannot_start(std::string("wrong argument(s); template ") + kTemplate);
  bool web = slots[kWeb].value != 0 || slots[kOpen].value != 0 || slots[kWebPort].text;
  if (slots[kWebPort].text && (slots[kWebPort].value < 0 || slots[kWebPort].value > 65535))
    return cannot_start("WEBPORT must be a TCP port, 0 to 65535");
  const bool detach = slots[kDetach].value != 0;
  int ready = detach ? DetachWhenReady(kCannotStart) : -1;
  if (detach && ready < 0)
    return cannot_start(std::string("cannot detach: ") + strerror(errno));
  if (!StartBoundedDecoding()) // before any thread: its children are forked from it
    return cannot_start(std::string("cannot start the picture decoder: ") + strerror(errno));
  HostState state;
  state.quiet = slots[kQuiet].value != 0 || detach;
  state.keeping = slots[kGpx].text || slots[kHtml].text || web;
  const char *name = slots[kPort].text ? slots[kPort].text : kMapPortName;

  InstallStopHandler();
  std::string why;
  KeptFiles files;
  files.tiles = slots[kTiles].text ? slots[kTiles].text : "";
  // A port another host owns touches no file. The port itself opens last:
  // whoever finds it is answered.
  if (FindPort(name))
    return cannot_start("port " + std::string(name) + " is taken");
  if (!OpenKeptFiles(slots[kGpx].text, slots[kHtml].text, files, state.store, !state.quiet, &why))
    return cannot_start(why);
  KeeperHandle keeper = StartKeeper(state.store, files, &why);
  if (!keeper)
    return cannot_start("cannot write " + why);
  WebViewHandle view;
  if (web && !(view = StartWebView(state.store, WebOptions{slots[kWebPort].value, files.tiles, files.address_path}, &why)))
    return cannot_start(why);
  std::unique_ptr<PublicPort> port = CreatePublicPort(name, &why);
  if (!port)
    return cannot_start(why);
  std::string url = view ? WebViewUrl(*view) : "";
  if (detach)
    ReportReady(ready, std::to_string(getpid()) + "\n" + (view ? url + "\n" : ""));
  if (!state.quiet && !PrintHostLine("pintrail-maphost: serving port " + port->path))
    return kOutputLost;
  if (view && !detach && !PrintHostLine("pintrail-maphost: web view at " + url))
    return kOutputLost;
  ForwardingPage forward;
  if (view && slots[kOpen].value) {
    if (HaveProgram("xdg-open") && write_forwarding_page(forward, port->path, url))
      SpawnAway("xdg-open", forward.path);
    else if (!detach)
      fprintf(stderr, "pintrail-maphost: no xdg-open to open the web view; open the address above\n");
  }
  bool served = ServePort(*port, state, BreakFlag());
  EndBoundedDecoding(); // an export under way ends within a second
  if (!served)
    return kOutputLost;
  view.reset(); // ends live pages, then the files get what came last
  keeper.reset();
  if (slots[kGpx].text && !state.quiet &&
      !PrintHostLine("pintrail-maphost: kept " + kept_counts(state.store) + " in " +
                     slots[kGpx].text))
    return kOutputLost;
  return 0;
}
