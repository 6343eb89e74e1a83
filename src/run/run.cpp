#include "run/run.h"

#include <cstdio>
#include <cstring>

#include "maplink/commands.h"
#include "picture/picture.h"
#include "platform/args.h"
#include "platform/console.h"
#include "run/walk.h"

namespace {

enum Slot { kDir, kVerbose, kPosition, kWaypoint, kPiclist, kAllFormats, kSlotCount };

const char kUsage[] =
    "Usage: pintrail DIR [VERBOSE] [POSITION] [WAYPOINT] [PICLIST] [ALLFORMATS]\n"
    "Template: %s\n"
    "\n"
    "Walks DIR (eight levels deep) and reads the GPS position of every picture.\n"
    "  VERBOSE     print a block with the tag texts of each picture\n"
    "  POSITION    print one line with the position in signed decimal degrees\n"
    "  WAYPOINT    send each position to the map application as a waypoint\n"
    "  PICLIST     send each position with the picture's path to its picture list\n"
    "  ALLFORMATS  read HEIC, AVIF, PNG, WebP, TIFF and raw files as well as JPEG\n"
    "Keywords are matched without regard to case. The map application listens\n"
    "on port \"VANTORA.1\" in $REXX_PORT_DIR (see pintrail(1)).\n"
    "\n"
    "Return codes: 0 all well; 5 the map was missing, refused or did not answer a\n"
    "command, or a folder could not be listed, and the run went on; 10 it could\n"
    "not run (wrong arguments, DIR unreadable, output lost); 20 break (Ctrl-C).\n";

} // namespace

int RunPintrail(int argc, const char *const *argv) {
  if (HandleStandardOption(argc, argv, kUsage, kTemplate, "pintrail 1.1 (04.07.16)"))
    return 0;
  ArgSlot slots[kSlotCount];
  ArgsHandle args(ReadArgs(kTemplate, slots, argc, argv));
  if (!args) {
    Printf("Wrong argument(s)!\n");
    return kRunFailed;
  }
  GeoRecord record;
  InitGeoRecord(record, slots[kVerbose].value, slots[kPosition].value,
                slots[kWaypoint].value, slots[kPiclist].value, slots[kAllFormats].value);
  WalkTree(slots[kDir].text, record);
  if (record.commands_without_map > 0)
    PrintError("no map on port \"%s\": %d command(s) reached nothing; start the map first\n",
               kMapPortName, record.commands_without_map);
  return record.run_code;
}
