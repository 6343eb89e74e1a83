#include "platform/args.h"

#include <gtest/gtest.h>

namespace {

constexpr char kTool[] = "DIR/A,VERBOSE/S,POSITION/S,WAYPOINT/S,PICLIST/S";

struct Case {
  std::vector<const char *> words;
  bool ok;
  const char *dir;      // expected DIR when ok
  int32_t switches[4];  // VERBOSE, POSITION, WAYPOINT, PICLIST
};

TEST(ReadArgs, FollowsTheTemplate) {
  const Case cases[] = {
      {{"Photos"}, true, "Photos", {0, 0, 0, 0}},
      {{"Photos", "position"}, true, "Photos", {0, -1, 0, 0}},
      {{"VERBOSE", "Photos", "PicList"}, true, "Photos", {-1, 0, 0, -1}},
      {{"dir", "Photos", "WAYPOINT"}, true, "Photos", {0, 0, -1, 0}},
      {{"DIR=Photos"}, true, "Photos", {0, 0, 0, 0}},
      {{"dir=a=b"}, true, "a=b", {0, 0, 0, 0}},
      {{"DIR", "VERBOSE"}, true, "VERBOSE", {0, 0, 0, 0}}, // the keyword takes the next word
      {{"Photos/"}, true, "Photos/", {0, 0, 0, 0}},
      {{"X=1"}, true, "X=1", {0, 0, 0, 0}}, // not a keyword: a positional value
      {{""}, true, "", {0, 0, 0, 0}},
      {{}, false, nullptr, {}},                      // DIR missing
      {{"VERBOSE"}, false, nullptr, {}},             // DIR missing
      {{"a", "b"}, false, nullptr, {}},              // a second positional value
      {{"DIR"}, false, nullptr, {}},                 // keyword without its value
      {{"VERBOSE=1", "Photos"}, false, nullptr, {}}, // switches take no value
      {{"DIR=a", "DIR=b"}, false, nullptr, {}},
      {{"a", "DIR", "b"}, false, nullptr, {}},
  };
  for (const Case &c : cases) {
    std::vector<const char *> argv{"pintrail"};
    argv.insert(argv.end(), c.words.begin(), c.words.end());
    ArgSlot slots[5];
    ArgsHandle args(ReadArgs(kTool, slots, static_cast<int>(argv.size()), argv.data()));
    std::string label = c.words.empty() ? "(none)" : c.words[0];
    ASSERT_EQ(args != nullptr, c.ok) << label;
    if (!c.ok)
      continue;
    EXPECT_STREQ(slots[0].text, c.dir) << label;
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(slots[i + 1].value, c.switches[i]) << label << " switch " << i;
  }
}

TEST(ReadArgs, KeywordOnlyItemsAndAliases) {
  const char *argv_ok[] = {"host", "port", "MY.PORT", "Q"};
  ArgSlot slots[3];
  ArgsHandle args(ReadArgs("PORT/K,GPX/K,QUIET=Q/S", slots, 4, argv_ok));
  ASSERT_TRUE(args);
  EXPECT_STREQ(slots[0].text, "MY.PORT");
  EXPECT_EQ(slots[1].text, nullptr);
  EXPECT_EQ(slots[2].value, kSwitchOn);

  const char *argv_positional[] = {"host", "MY.PORT"};
  ArgSlot more[3];
  EXPECT_FALSE(ArgsHandle(ReadArgs("PORT/K,GPX/K,QUIET/S", more, 2, argv_positional)));
}

TEST(SplitArgLine, QuotesAndEscapes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitArgLine("  Photos   POSITION "), (V{"Photos", "POSITION"}));
  EXPECT_EQ(SplitArgLine("\"My Photos\" verbose"), (V{"My Photos", "verbose"}));
  EXPECT_EQ(SplitArgLine("DIR=\"a b\""), (V{"DIR=a b"}));
  EXPECT_EQ(SplitArgLine("\"say *\"hi*\" **\""), (V{"say \"hi\" *"}));
  EXPECT_EQ(SplitArgLine("\"\""), (V{""}));
  EXPECT_EQ(SplitArgLine("\"unterminated"), (V{"unterminated"}));
  EXPECT_EQ(SplitArgLine(""), V{});
}

} // namespace
