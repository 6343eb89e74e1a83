#include "platform/printable.h"

#include <gtest/gtest.h>

namespace {

TEST(PrintableText, ControlCharactersBidiControlsAndSeparatorsAreEscapedTheirNeighboursNot) {
  EXPECT_EQ(PrintableText("a\tb\nc\x1b[2J\x7f"), "a\\tb\\nc\\x1b[2J\\x7f");
  EXPECT_EQ(PrintableText("\xC2\x9B" "31m \x9B \xC3\xA9 \xE2\x82\xAC \xE0\xA4\x85"), // C1 CSI, as UTF-8 and alone; 0xE0 leads three bytes
            "\\xc2\\x9b31m \\x9b \xC3\xA9 \xE2\x82\xAC \xE0\xA4\x85");
  EXPECT_EQ(PrintableText("\xE2\x80\xA7\xE2\x80\xA8 \xE2\x80\xA9\xE2\x80\xAA \xE2\x80\xAE\xE2\x80\xAF"),
            "\xE2\x80\xA7\\u2028 \\u2029\\u202a \\u202e\xE2\x80\xAF");
  EXPECT_EQ(PrintableText("\xE2\x81\xA5\xE2\x81\xA6 \xE2\x81\xA9\xE2\x81\xAA"), "\xE2\x81\xA5\\u2066 \\u2069\xE2\x81\xAA");
}

TEST(PrintableText, BytesThatAreNoUtf8AreEscapedOneByOne) {
  EXPECT_EQ(PrintableText("\xC0\xAF"), "\\xc0\\xaf");                 // overlong "/"
  EXPECT_EQ(PrintableText("\xED\xA0\x80\xED\xBF\xBF"), "\\xed\\xa0\\x80\\xed\\xbf\\xbf"); // the first and last surrogate
  EXPECT_EQ(PrintableText("\xF4\x90\x80\x80"), "\\xf4\\x90\\x80\\x80"); // past U+10FFFF
  EXPECT_EQ(PrintableText("\xE2\x82"), "\\xe2\\x82");                 // cut short
  EXPECT_EQ(PrintableText("\xF0\x9F\x93\xB7 \xDF\xBF \xF4\x8F\xBF\xBF"), "\xF0\x9F\x93\xB7 \xDF\xBF \xF4\x8F\xBF\xBF"); // U+10FFFF the last
}

} // namespace
