// pintrail-maphost: a stand-in for the map application on port "VANTORA.1".
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "maphost/host.h"
#include "platform/args.h"
#include "platform/console.h"

namespace {

constexpr char kTemplate[] = "PORT/K,GPX/K,QUIET/S";
enum Slot { kPort, kGpx, kQuiet, kSlotCount };

volatile int stop_requested = 0;

void on_stop(int) { stop_requested = 1; }

void catch_stop_signals() {
  struct sigaction action {};
  action.sa_handler = on_stop;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

const char kUsage[] =
    "Usage: pintrail-maphost [PORT name] [GPX file] [QUIET]\n"
    "Template: %s\n"
    "\n"
    "Owns a public message port (default \"VANTORA.1\") and answers the map\n"
    "commands \"addwaypoint\" and \"AddJPGPos\", printing each as it arrives.\n"
    "  PORT   the port's name\n"
    "  GPX    keep every position received in this GPX 1.1 file\n"
    "  QUIET  print nothing per command\n"
    "Ends on Ctrl-C or SIGTERM, removing its port.\n";

} // namespace

int main(int argc, char **argv) {
  uselocale(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0)));
  if (HandleStandardOption(argc, argv, kUsage, kTemplate, "pintrail-maphost 1.1"))
    return FlushOutput();
  ArgSlot slots[kSlotCount];
  ArgsHandle args(ReadArgs(kTemplate, slots, argc, argv));
  if (!args) {
    fprintf(stderr, "pintrail-maphost: wrong argument(s); template %s\n", kTemplate);
    return 10;
  }
  HostState state;
  state.quiet = slots[kQuiet].value != 0;
  const char *name = slots[kPort].text ? slots[kPort].text : "VANTORA.1";
  if (slots[kGpx].text)
    state.gpx_path = slots[kGpx].text;

  catch_stop_signals();
  std::string why;
  std::unique_ptr<PublicPort> port = CreatePublicPort(name, &why);
  if (!port) {
    fprintf(stderr, "pintrail-maphost: %s\n", why.c_str());
    return 10;
  }
  if (!state.gpx_path.empty() &&
      !WriteFileAtomically(state.gpx_path, RenderGpx(state.gpx), &why)) {
    fprintf(stderr, "pintrail-maphost: cannot write %s\n", why.c_str());
    return 10;
  }
  if (!state.quiet && !PrintHostLine("pintrail-maphost: serving port " + port->path))
    return kOutputLost;
  if (!ServePort(*port, state, &stop_requested))
    return kOutputLost;
  if (!state.gpx_path.empty() && !state.quiet &&
      !PrintHostLine("pintrail-maphost: kept " + std::to_string(state.waypoints) +
                     " waypoints and " + std::to_string(state.pictures) + " pictures in " +
                     state.gpx_path))
    return kOutputLost;
  return 0;
}
