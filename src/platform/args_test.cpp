#include "platform/args.h"

#include <gtest/gtest.h>

namespace {

// Parses words against the template; "-" when refused, else each slot's text or value, separated by "|".
std::string parsed(const char *template_text, std::vector<const char *> words) {
  words.insert(words.begin(), "tool");
  ArgSlot slots[5];
  ArgsHandle args(ReadArgs(template_text, slots, static_cast<int>(words.size()), words.data()));
  if (!args)
    return "-";
  std::string out;
  long items = 1 + std::count(template_text, template_text + strlen(template_text), ',');
  for (long i = 0; i < items; ++i)
    out += std::string(i ? "|" : "") + (slots[i].text ? std::string(slots[i].text) : std::to_string(slots[i].value));
  return out;
}

TEST(ReadArgs, FollowsTheTemplate) {
  const char *tool = "DIR/A,VERBOSE/S,POSITION/S,WAYPOINT/S,PICLIST/S";
  const struct { std::vector<const char *> words; const char *slots; } cases[] = {
      {{"Photos"}, "Photos|0|0|0|0"}, {{"Photos", "position"}, "Photos|0|-1|0|0"},
      {{"VERBOSE", "Photos", "PicList"}, "Photos|-1|0|0|-1"}, {{"dir", "Photos", "WAYPOINT"}, "Photos|0|0|-1|0"},
      {{"DIR=Photos"}, "Photos|0|0|0|0"},      {{"dir=a=b"}, "a=b|0|0|0|0"},
      {{"DIR", "VERBOSE"}, "VERBOSE|0|0|0|0"}, // the keyword takes the next word
      {{"X=1"}, "X=1|0|0|0|0"}, {{""}, "|0|0|0|0"}, // X is no keyword: a positional value
      {{}, "-"}, {{"VERBOSE"}, "-"}, {{"a", "b"}, "-"}, {{"DIR"}, "-"},
      {{"VERBOSE=1", "Photos"}, "-"},          // switches take no value
      {{"DIR=a", "DIR=b"}, "-"}, {{"a", "DIR", "b"}, "-"}, };
  for (const auto &c : cases)
    EXPECT_EQ(parsed(tool, c.words), c.slots) << (c.words.empty() ? "(none)" : c.words[0]);
  EXPECT_EQ(parsed("PORT/K,GPX/K,QUIET=Q/S", {"port", "MY.PORT", "Q"}), "MY.PORT|0|-1");
  EXPECT_EQ(parsed("PORT/K,GPX/K,QUIET/S", {"MY.PORT"}), "-"); // keyword only
  EXPECT_EQ(parsed("A/K,B", {"A=x"}), "x|0"); // a keyword of one letter
  const char *numbers[][2] = {{"8080", "8080"}, {"-12", "-12"}, {"+7", "+7"}, {"123456789", "123456789"},
                              {"1234567890", "-"}, {"80x", "-"}, {"", "-"}, {"-", "-"}}; // nine digits at most, signed
  for (const auto &n : numbers)
    EXPECT_EQ(parsed("WEBPORT/K/N", {"webport", n[0]}), n[1]) << n[0];
  ArgSlot slots[5];
  const char *no_words[] = {nullptr};
  EXPECT_FALSE(ArgsHandle(ReadArgs(tool, slots, 0, no_words))); // started without even its name
  const char *most = "A/S,B/S,C/S,D/S,E/S,F/S,G/S,H/S,I/S,J/S,K/S,L/S,M/S,N/S,O/S,P/S", *name[] = {"tool", nullptr};
  ArgSlot many[kMaxArgItems + 1]; // as many items as a template may have, then one more
  EXPECT_TRUE(ArgsHandle(ReadArgs(most, many, 1, name)) && !ArgsHandle(ReadArgs((std::string(most) + ",Q/S").c_str(), many, 1, name)));
}

TEST(SplitArgLine, QuotesAndEscapes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitArgLine("  Photos   POSITION "), (V{"Photos", "POSITION"}));
  EXPECT_EQ(SplitArgLine("\"My Photos\" verbose"), (V{"My Photos", "verbose"}));
  EXPECT_EQ(SplitArgLine("DIR=\"a b\""), (V{"DIR=a b"}));
  EXPECT_EQ(SplitArgLine("\"say *\"hi*\" **\""), (V{"say \"hi\" *"}));
  EXPECT_EQ(SplitArgLine("\"\""), (V{""}));
  EXPECT_EQ(SplitArgLine("\"*N*n*E*e\""), (V{"\n\n\x1b\x1b"}));
  EXPECT_EQ(SplitArgLine("\"unterminated *"), (V{"unterminated *"})); // a star at the very end is itself
  EXPECT_EQ(SplitArgLine(""), V{});
}

} // namespace
