#include "maphost/web/queries.h"

#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>

namespace {

std::string asked(Store &store, std::string_view path, std::map<std::string, std::string> arguments,
                  const char **type = nullptr) {
  QueryAnswer answer = AnswerQuery(store, path, [&](const char *name) {
    auto found = arguments.find(name);
    return found == arguments.end() ? nullptr : found->second.c_str();
  });
  if (type)
    *type = answer.type;
  return answer.bytes;
}

TEST(Queries, AnswersNameWhatTheyHoldAndRefuseWhatIsNoQuestion) {
  Store store;
  KeepPosition(store, Position{false, "43.7", "11.25", "2008:10:22 16:28:39", "", "", ""});
  KeepPosition(store, Position{true, "43.7", "11.25", "a\xFF.jpg", "/trip/a\xFF.jpg", "file:///trip/a%FF.jpg", ""});
  auto clusters = nlohmann::json::parse(asked(store, "/clusters", {{"z", "3"}, {"b", "-180,-85,180,85"}}));
  EXPECT_EQ(clusters["c"], nlohmann::json::parse("[[43.7, 11.25, 1, 1, true, 1]]"));
  auto page = nlohmann::json::parse(asked(store, "/list", {{"q", "TRIP"}, {"from", "0"}, {"n", "5"}}));
  EXPECT_EQ(page["total"], 1);
  EXPECT_EQ(page["rows"][0][2], "/trip/");
  EXPECT_EQ(asked(store, "/trips", {}), "{\"n\":1,\"t\":[[\"2008:10:22 16:28:39\",\"2008:10:22 16:28:39\",1,43.7,11.25,43.7,11.25,\"Impruneta, Italy\"]]}");
  EXPECT_EQ(asked(store, "/timeline", {{"z", "3"}, {"b", "11,43.7,12,43.7"}, {"q", "impruneta"}}), // a box one line high
            "{\"d\":[[\"2008:10:22\",1]]}");
  for (auto [from, until, found] : {std::tuple{"2008:10:22", "2008:10:23", 1}, {"2008:10:23", "", 0}, {"", "2008:10:22", 0}})
    EXPECT_EQ(nlohmann::json::parse(asked(store, "/list", {{"t0", from}, {"t1", until}, {"from", "0"}, {"n", "5"}}))["total"], found);
  auto picture = nlohmann::json::parse(asked(store, "/position/1", {}));
  EXPECT_EQ(std::pair(picture["taken"], picture["town"]), std::pair(nlohmann::json("2008:10:22 16:28:39"), nlohmann::json("Impruneta, Italy")));
  EXPECT_EQ(picture["name"], "a\xEF\xBF\xBD.jpg"); // not UTF-8: replaced
  std::map<std::string, std::string> box{{"z", "3"}, {"b", "11,43,12,44"}};
  for (auto [format, shown] : {std::pair{"gpx", "<time>2008-10-22T16:28:39</time>"},
                               {"geojson", "[11.25,43.7],\"type\":\"Point\"},\"properties\":{\"file\":\"file:///trip/a%FF.jpg\","
                                           "\"name\":\"a\xEF\xBF\xBD.jpg\",\"time\":\"2008-10-22T16:28:39\"}"},
                               {"kml", "<name>a\xEF\xBF\xBD.jpg</name><description>file:///trip/a%FF.jpg</description><TimeStamp>"
                                       "<when>2008-10-22T16:28:39</when></TimeStamp><Point><coordinates>11.25,43.7</"}}) {
    const char *type = "";
    box["f"] = format;
    EXPECT_NE(asked(store, "/selection", box, &type).find(shown), std::string::npos) << format;
    EXPECT_NE(std::string(type).find(format == std::string("geojson") ? "geo+json" : format), std::string::npos);
  }
  for (auto [path, arguments] : std::initializer_list<std::pair<const char *, std::map<std::string, std::string>>>{
           {"/clusters", {{"z", "21"}, {"b", "0,0,1,1"}}}, {"/clusters", {{"z", "3"}, {"b", "1,0,0,1"}}},
           {"/clusters", {{"z", "3"}, {"b", "0,0,1"}}}, {"/clusters", {{"z", "-1"}, {"b", "0,0,1,1"}}},
           {"/list", {{"from", "0"}, {"n", "1001"}}}, {"/list", {{"from", "0"}, {"n", "5"}, {"o", "size"}}},
           {"/list", {{"n", "5"}}}, {"/list", {{"from", "1x"}, {"n", "5"}}}, {"/position/2", {}},
           {"/position/", {}}, {"/position/+1", {}}, {"/selection", {{"f", "pdf"}, {"z", "3"}, {"b", "0,0,1,1"}}}})
    EXPECT_EQ(asked(store, path, arguments), "") << path;
}

} // namespace
