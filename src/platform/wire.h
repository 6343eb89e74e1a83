// The bytes of one message exchange between a port's client and its host.
// Integers are big-endian; a text is a 32-bit length and that many bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

constexpr uint32_t kMaxWireText = 65536;
constexpr uint32_t kNoResultText = 0xFFFFFFFF;

// Malformed first: a status left at its zero value refuses, never accepts.
enum class WireStatus { Malformed = 1, NeedMore, Complete }; // from 1: one made by default is no answer

struct WireMessage {
  uint32_t action = 0;
  std::string command;
  std::string port_name;
  std::string extension;
};

struct WireReply {
  int32_t result1 = 0;
  std::optional<std::string> result2;
};

std::string EncodeMessage(const WireMessage &message);
std::string EncodeReply(const WireReply &reply);

// Decode from the bytes received so far; NeedMore until a whole frame is
// there. Bytes after a complete frame are ignored.
WireStatus DecodeMessage(std::string_view bytes, WireMessage &message);
WireStatus DecodeReply(std::string_view bytes, WireReply &reply);

// One text as the wire has it, for other records built the same way.
void PutWireText(std::string &out, std::string_view text);
// The text at *at, moving past it; Complete, NeedMore when bytes end first,
// Malformed when its length is out of bounds.
WireStatus GetWireText(std::string_view bytes, size_t *at, std::string &text);
