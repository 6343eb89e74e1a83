#include "platform/printable.h"

namespace {

const char kHex[] = "0123456789abcdef";

// The code point of the UTF-8 sequence at text[at], its length in *length;
// -1 for a byte that starts no valid sequence (overlong, surrogate, cut).
long decode_utf8(std::string_view text, size_t at, size_t *length) {
  unsigned char lead = static_cast<unsigned char>(text[at]);
  *length = 1;
  if (lead < 0x80)
    return lead;
  size_t count = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
  if (count == 0 || lead > 0xF4 || at + count > text.size())
    return -1;
  long code = lead & (0x7F >> count);
  for (size_t i = 1; i < count; i++) {
    unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80)
      return -1;
    code = code << 6 | (next & 0x3F);
  }
  static const long kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kLeast[count] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
    return -1;
  *length = count;
  return code;
}

bool hidden_control(long code) {
  return code < 0x20 || (code >= 0x7F && code <= 0x9F) || (code >= 0x2028 && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}

} // namespace

std::string PrintableText(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (size_t at = 0, length; at < text.size(); at += length) {
    long code = decode_utf8(text, at, &length);
    if (code == '\n' || code == '\t') {
      shown += code == '\n' ? "\\n" : "\\t";
    } else if (code < 0 || (hidden_control(code) && code <= 0x9F)) {
      for (size_t i = 0; i < length; i++) {
        unsigned char byte = static_cast<unsigned char>(text[at + i]);
        shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
      }
    } else if (hidden_control(code)) {
      shown += {'\\', 'u', kHex[code >> 12 & 15], kHex[code >> 8 & 15], kHex[code >> 4 & 15], kHex[code & 15]};
    } else {
      shown.append(text, at, length);
    }
  }
  return shown;
}
