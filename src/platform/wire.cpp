#include "platform/wire.h"

#include <algorithm>

namespace {

constexpr std::string_view kMessageMagic = "RXM1";
constexpr std::string_view kReplyMagic = "RXR1";

void put_u32(std::string &out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void put_text(std::string &out, std::string_view text) {
  put_u32(out, static_cast<uint32_t>(text.size()));
  out.append(text);
}

// A cursor over received bytes; a read past the end fails.
struct Reader {
  std::string_view bytes;
  size_t at = 0;
  bool short_read = false; // the magic matched as far as bytes had arrived

  bool get_u32(uint32_t &value) {
    if (bytes.size() - at < 4)
      return false;
    value = 0;
    for (int i = 0; i < 4; ++i)
      value = (value << 8) | static_cast<unsigned char>(bytes[at++]);
    return true;
  }
  bool get_bytes(size_t length, std::string &text) {
    if (bytes.size() - at < length)
      return false;
    text.assign(bytes.substr(at, length));
    at += length;
    return true;
  }
  // Matches the magic as far as bytes have arrived.
  bool magic(std::string_view expected) {
    size_t have = std::min(bytes.size() - at, expected.size());
    if (bytes.substr(at, have) != expected.substr(0, have))
      return false;
    at += have;
    short_read = have < expected.size();
    return !short_read;
  }
};

WireStatus get_text(Reader &reader, std::string &text) {
  uint32_t length = 0;
  if (!reader.get_u32(length))
    return WireStatus::NeedMore;
  if (length > kMaxWireText)
    return WireStatus::Malformed;
  return reader.get_bytes(length, text) ? WireStatus::Complete
                                        : WireStatus::NeedMore;
}

} // namespace

void PutWireText(std::string &out, std::string_view text) { put_text(out, text); }

WireStatus GetWireText(std::string_view bytes, size_t *at, std::string &text) {
  Reader reader{bytes, *at};
  WireStatus status = get_text(reader, text);
  if (status == WireStatus::Complete)
    *at = reader.at;
  return status;
}

std::string EncodeMessage(const WireMessage &message) {
  std::string out(kMessageMagic);
  put_u32(out, message.action);
  put_text(out, message.command);
  put_text(out, message.port_name);
  put_text(out, message.extension);
  return out;
}

std::string EncodeReply(const WireReply &reply) {
  std::string out(kReplyMagic);
  put_u32(out, static_cast<uint32_t>(reply.result1));
  if (reply.result2)
    put_text(out, *reply.result2);
  else
    put_u32(out, kNoResultText);
  return out;
}

WireStatus DecodeMessage(std::string_view bytes, WireMessage &message) {
  Reader reader{bytes};
  if (!reader.magic(kMessageMagic))
    return reader.short_read ? WireStatus::NeedMore : WireStatus::Malformed;
  if (!reader.get_u32(message.action))
    return WireStatus::NeedMore;
  for (std::string *text :
       {&message.command, &message.port_name, &message.extension}) {
    WireStatus status = get_text(reader, *text);
    if (status != WireStatus::Complete)
      return status;
  }
  return WireStatus::Complete;
}

WireStatus DecodeReply(std::string_view bytes, WireReply &reply) {
  Reader reader{bytes};
  if (!reader.magic(kReplyMagic))
    return reader.short_read ? WireStatus::NeedMore : WireStatus::Malformed;
  uint32_t result1 = 0, length = 0;
  if (!reader.get_u32(result1) || !reader.get_u32(length))
    return WireStatus::NeedMore;
  reply.result1 = static_cast<int32_t>(result1);
  reply.result2.reset();
  if (length == kNoResultText)
    return WireStatus::Complete;
  if (length > kMaxWireText)
    return WireStatus::Malformed;
  std::string text;
  if (!reader.get_bytes(length, text))
    return WireStatus::NeedMore;
  reply.result2 = std::move(text);
  return WireStatus::Complete;
}
