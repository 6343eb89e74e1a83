#include "platform/wire.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

TEST(Wire, MessageBytesAndRoundTrip) {
  WireMessage sent{0x00020000, "addwaypoint 1 2 \"x\"", "VANTORA.1", ""}, got;
  std::string bytes = EncodeMessage(sent);
  EXPECT_EQ(bytes, "RXM1" + Be32(0x00020000) + Be32(19) + sent.command + Be32(9) + "VANTORA.1" + Be32(0));
  WireReply reply{0, "stale"}; // a result without text: length 0xFFFFFFFF
  std::string answer = EncodeReply({-5, std::nullopt});
  EXPECT_EQ(answer, "RXR1" + Be32(0xFFFFFFFB) + Be32(0xFFFFFFFF));
  for (size_t n = 0; n < bytes.size(); ++n) // every prefix asks for more
    EXPECT_EQ(DecodeMessage(bytes.substr(0, n), got), WireStatus::NeedMore) << n;
  for (size_t n = 0; n < answer.size(); ++n)
    EXPECT_EQ(DecodeReply(answer.substr(0, n), reply), WireStatus::NeedMore) << n;
  ASSERT_EQ(DecodeMessage(bytes + "trailing", got), WireStatus::Complete);
  EXPECT_EQ(EncodeMessage(got), bytes);
  ASSERT_EQ(DecodeReply(answer, reply), WireStatus::Complete);
  EXPECT_EQ(reply.result1 + reply.result2.has_value(), -5);
}

// Replies, and their malformed forms, meet the client in the hostile-peer tests.
TEST(Wire, MalformedFrames) {
  WireMessage message;
  WireReply reply;
  EXPECT_EQ(DecodeMessage("RXR1", message), WireStatus::Malformed);
  EXPECT_EQ(DecodeMessage("X", message), WireStatus::Malformed);
  EXPECT_EQ(DecodeMessage("RXM1" + Be32(0) + Be32(65537), message), WireStatus::Malformed);
  EXPECT_EQ(DecodeMessage("RXM1" + Be32(0) + Be32(65536), message), WireStatus::NeedMore);
  EXPECT_EQ(DecodeReply("RXR1" + Be32(0) + Be32(3) + "ab", reply), WireStatus::NeedMore);
}

} // namespace
