// Arbitrary bytes as a picture file, through the real picture processing
// with all four switches; the map link looks in an empty private port
// directory.
#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

#include "picture/picture.h"
#include "platform/console.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  static char ports[] = "/tmp/pintrail-fuzz-ports-XXXXXX";
  if (mkdtemp(ports))
    setenv("REXX_PORT_DIR", ports, 1);
  SetOutput(fopen("/dev/null", "w"));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  int fd = memfd_create("picture", MFD_CLOEXEC);
  if (fd < 0)
    return 0;
  if (write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return 0;
  }
  static GeoRecord record;
  InitGeoRecord(record, -1, -1, -1, -1);
  ProcessPicture("fuzz/picture.jpg", record, fd); // takes the descriptor
  return 0;
}
