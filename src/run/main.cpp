// pintrail: the GPS positions of a tree of pictures, on the console and on
// the map application.
#include <clocale>
#include <cstdio>

#include "platform/console.h"
#include "run/run.h"

// The version tag, in the form the platform's Version command looks for.
extern const char kVersionTag[];
__attribute__((used)) const char kVersionTag[] = "$VER: pintrail 1.1 (04.07.16)";

int main(int argc, char **argv) {
  // Numbers are written and read in the C locale, whatever the environment.
  uselocale(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0)));
  InstallBreakHandler();
  int code = RunPintrail(argc, argv);
  int lost = FlushOutput();
  return lost ? lost : code;
}
