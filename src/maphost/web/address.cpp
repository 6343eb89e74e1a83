#include "maphost/web/address.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "platform/descriptor.h"
#include "platform/own_file.h"
#include "platform/whole_file.h"

namespace {

constexpr size_t kTokenLength = 64; // hex digits: 32 random bytes

bool is_token(const std::string &text) {
  return text.size() == kTokenLength && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

} // namespace

WebAddress ReadWebAddress(const std::string &path) {
  std::string why, text;
  Descriptor file(OpenOwnFile(path, O_RDONLY, "web address", &why));
  if (file.fd < 0 || !ReadWholeFile(file.fd, text, 128))
    return {};
  char token[kTokenLength + 2] = "";
  int port = 0, used = 0;
  if (sscanf(text.c_str(), "%5d %65s\n%n", &port, token, &used) != 2 || used != static_cast<int>(text.size()) ||
      port < 1 || port > 65535 || !is_token(token))
    return {};
  return WebAddress{port, token};
}

bool KeepWebAddress(const std::string &path, const WebAddress &address, std::string *why) {
  Descriptor file(OpenOwnFile(path, O_RDWR | O_CREAT, "web address", why));
  if (file.fd < 0)
    return false;
  std::string text = std::to_string(address.port) + " " + address.token + "\n";
  if (ftruncate(file.fd, 0) != 0 || !WriteAll(file.fd, text)) {
    *why = "cannot write " + path;
    return false;
  }
  return true;
}
