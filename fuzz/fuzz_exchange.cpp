// Arbitrary bytes as a host's reply to the map link (through a socket and
// WaitPort) and as a client's message to the stand-in host.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "maphost/exchange.h"
#include "maphost/files/gpx.h"
#include "maphost/web/embedded.h"
#include "maplink/grammar.h"
#include "platform/descriptor.h"
#include "platform/ports.h"
#include "platform/printable.h"

namespace {

void as_reply(const uint8_t *data, size_t size) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
    return;
  size = size < 100000 ? size : 100000; // fits the socket's buffer
  ssize_t ignored = write(pair[1], data, size);
  (void)ignored;
  close(pair[1]); // the host is gone after these bytes
  ReplyPort reply_port;
  reply_port.fd = pair[0];
  RexxMsgHandle message(CreateRexxMsg(&reply_port, "", "VANTORA.1"));
  WaitPort(message.get());
}

void as_message(const uint8_t *data, size_t size) {
  WireMessage message;
  std::string_view bytes(reinterpret_cast<const char *>(data), size);
  if (DecodeMessage(bytes, message) != WireStatus::Complete)
    return;
  HostState state;
  state.quiet = true;
  state.keeping = true;
  std::optional<Position> journalled;
  EncodeReply(HandleCommand(state, message, 0, journalled));
  if (journalled)
    KeepJournalled(state.store, std::move(*journalled));
  PrintableText(message.command);
  // and what the GPX document and the exported page would make of it
  PositionFeed each = [&](const auto &visit) { EachPosition(state.store, visit); };
  Descriptor null(open("/dev/null", O_WRONLY | O_CLOEXEC));
  WriteGpx(null.fd, each);
  EmbedLibrary(each, {});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0)
    return 0;
  if (data[0] & 1)
    as_reply(data + 1, size - 1);
  else
    as_message(data + 1, size - 1);
  return 0;
}
